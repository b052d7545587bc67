// Default message box entry of the engine. Holds no other state.
#include "engine/win32/message_box.h"

namespace engine::win32 {

MessageBoxFunction g_messageBox = MessageBoxA;

}  // namespace engine::win32

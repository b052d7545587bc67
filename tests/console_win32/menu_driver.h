// Answers a console's context menu in tests the way a user would: records the items
// when the menu opens and, once its loop waits for input, posts the keys that choose a
// command (or ends the menu). One driver at a time, on the thread that opens the menu.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace console_test {

class MenuDriver {
public:
    enum Choice { kDismiss, kCancel, kCopy, kSelect, kLeaveOpen };

    explicit MenuDriver(Choice choice) : choice_(choice) {
        current() = this;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, onMessage, nullptr, GetCurrentThreadId());
    }
    ~MenuDriver() {
        UnhookWindowsHookEx(hook_);
        current() = nullptr;
    }
    MenuDriver(const MenuDriver&) = delete;
    MenuDriver& operator=(const MenuDriver&) = delete;

    void choose(Choice choice) { choice_ = choice; }

    int opened = 0;
    std::vector<std::string> items;
    std::vector<UINT> ids;

private:
    static MenuDriver*& current() {
        static MenuDriver* driver = nullptr;
        return driver;
    }

    static void post(HWND window, UINT vk) {
        PostMessageA(window, WM_KEYDOWN, vk, 1);
        PostMessageA(window, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    }

    void answer(HWND owner) {
        switch (choice_) {
        case kDismiss: EndMenu(); break;
        case kCancel: post(owner, VK_DOWN); post(owner, VK_RETURN); break;
        case kCopy: post(owner, VK_DOWN); post(owner, VK_DOWN); post(owner, VK_RETURN); break;
        case kSelect: PostMessageA(owner, WM_CHAR, 's', 1); break;  // the one item with that mnemonic
        case kLeaveOpen: break;
        }
    }

    static LRESULT CALLBACK onMessage(int code, WPARAM wparam, LPARAM lparam) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lparam);
        MenuDriver* d = current();
        if (code == HC_ACTION && d != nullptr) {
            if (m->message == WM_INITMENUPOPUP) {
                HMENU menu = reinterpret_cast<HMENU>(m->wParam);
                ++d->opened;
                d->items.clear();
                d->ids.clear();
                for (int i = 0; i < GetMenuItemCount(menu); ++i) {
                    char text[64] = "";
                    GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
                    d->items.push_back(text);
                    d->ids.push_back(GetMenuItemID(menu, i));
                }
            } else if (m->message == WM_ENTERIDLE && m->wParam == MSGF_MENU) {
                d->answer(m->hwnd);
            }
        }
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }

    Choice choice_;
    HHOOK hook_ = nullptr;
};

}  // namespace console_test

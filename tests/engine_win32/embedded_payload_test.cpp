// The private unpacking folder: its access list as built (Wine keeps no access lists on
// files, so it is read back only from the descriptor), made fresh or not at all; and
// without a payload the program carries on as before.
#include <gtest/gtest.h>

#include <string>

#include "engine/win32/embedded_payload.h"
#include "engine/win32/locked_folder.h"
#include "tests/engine_win32/test_support.h"

namespace {

using namespace engine::win32;

TEST(EmbeddedPayload, TheLockedFolderAdmitsSystemAdministratorsAndUsAloneAndIsNeverReused) {
    LockedFolderSecurity security;
    ASSERT_TRUE(security.ok()) << security.error();
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.descriptor(), &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the temp folder's list would flow in";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(security.descriptor(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr);
    ASSERT_EQ(dacl->AceCount, 3);
    const WELL_KNOWN_SID_TYPE known[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, static_cast<DWORD>(FILE_ALL_ACCESS));
        if (i < 2) {
            EXPECT_TRUE(IsWellKnownSid(&ace->SidStart, known[i])) << "ACE " << i;
        }
    }

    engine_test::ScratchDirectory scratch;
    const std::string planted = scratch.folder("planted");  // made beforehand, as an attacker would
    DWORD error = 0;
    EXPECT_FALSE(CreateLockedFolder(planted, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CreateLockedFolder(scratch.file("fresh"), &error)) << error;
    EXPECT_TRUE(engine_test::WriteBytes(scratch.file("fresh") + "\\inside.txt", "made inside"));

    // The helper that removes an unpacking folder removes nothing else.
    EXPECT_EQ(RunFolderRemover("0:" + planted), 1);
    EXPECT_NE(GetFileAttributesA(planted.c_str()), INVALID_FILE_ATTRIBUTES);

    // This test program carries no payload: nothing to check, nothing to unpack.
    std::string failure;
    EXPECT_TRUE(CheckEmbeddedPayload(&failure)) << failure;
    EXPECT_FALSE(HasEmbeddedPayload());
    RemovePayloadFolder();
}

}  // namespace

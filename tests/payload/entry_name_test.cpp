#include "payload/entry_name.h"

#include <gtest/gtest.h>

TEST(IsContainedEntryName, OrdinaryNamesAndSubdirectoriesStayUsable) {
  for (const char* name : {
           "SETUP.EXE",
           "readme.txt",
           "DOCS\\MANUAL.TXT",
           "DOCS/EN/MANUAL.TXT",
           "A\\\\B\\C",
           "DOCS\\",
           ".profile",
           "a..b",
           "..hidden",
           "CONFIG.SYS",
           "CONSOLE.TXT",
           "COM10",
           "LPT0",
           "NULL",
           "AUXILIARY\\X",
           "CLOCK$",
           "\xb0\xb2\xd7\xb0\\\xcb\xb5\xc3\xf7.TXT",
           "my file.txt",
           "v1.2.3\\x",
       }) {
    EXPECT_TRUE(IsContainedEntryName(name)) << name;
  }
}

TEST(IsContainedEntryName, NamesThatLeaveTheDirectoryOrNameNoPlainFile) {
  for (const char* name : {
           "",              // no name at all
           "..",            // the parent itself
           "..\\EVIL.EXE",  // up one level
           "../EVIL.EXE",   //   with the other separator
           "A\\..\\..\\B",  // up from inside
           "A\\..",         // ends on the parent
           "...\\X",        // trailing dots are trimmed: "..." is ".."
           ".. \\X",        // and so are trailing blanks
           ".\\X",
           "X\\.",          // the directory itself
           "\\WINDOWS\\X",  // the root of the drive
           "/etc/x",        //   with the other separator
           "\\\\server\\share\\x",
           "\\\\?\\C:\\x",
           "\\\\.\\PHYSICALDRIVE0",
           "C:\\X",
           "c:x",             // a drive, absolute or relative
           "SETUP.EXE:evil",  // an alternate data stream
           "DOCS\\A:B",       //   in a subdirectory
           "CON",
           "nul.txt",
           "Aux",
           "PRN.",
           "COM1",
           "lpt9.log",
           "DOCS\\CON",
           "NUL \\x",
           "CONOUT$",
       }) {
    EXPECT_FALSE(IsContainedEntryName(name)) << name;
  }
}

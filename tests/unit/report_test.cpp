#include <gtest/gtest.h>

#include <cerrno>

#include "capture.h"
#include "shell/report.h"

TEST(Report, SystemErrorAddsTheTextForTheCurrentErrorNumber) {
  CapturedConsole console;
  errno = ENOENT;
  print_system_error("ERROR! Could not open palette file! ");
  errno = 0;
  print_system_error("ERROR! Could not determine X size of input file! ");
  errno = 99999;
  print_system_error("\nERROR! Could not read image data! ");
  errno = -3;
  print_system_error("ERROR! x ");
  errno = EACCES;
  print_system_error("");
  console.finish();
  EXPECT_EQ(console.out_text, "");
  EXPECT_EQ(console.err_text,
            "ERROR! Could not open palette file! : No such file or directory\n"
            "ERROR! Could not determine X size of input file! : Success\n"
            "\nERROR! Could not read image data! : Unknown error 99999\n"
            "ERROR! x : Unknown error -3\n"
            "Permission denied\n");
}

TEST(Report, NoReportingOperationChangesTheErrorNumber) {
  CapturedConsole console;  // not a terminal: the terminal test itself fails with ENOTTY
  errno = 0;
  print_progress("a");
  EXPECT_EQ(errno, 0);
  print_error("b");
  EXPECT_EQ(errno, 0);
  errno = EFBIG;
  print_system_error("c ");
  EXPECT_EQ(errno, EFBIG);
  print_progress("d");
  EXPECT_EQ(errno, EFBIG);
}

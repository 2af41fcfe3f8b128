// Running out of memory: the one failure neither program can go on from.
#pragma once

// Makes every failed allocation from now on tell the user "out of memory" in a message box and
// end the program with exit code 1. A little memory is held back for the message box itself.
void InstallOutOfMemoryHandler();

// What a failed allocation calls: the message box, then the end of the program with code 1.
[[noreturn]] void OutOfMemory();

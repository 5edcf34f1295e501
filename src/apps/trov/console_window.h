// Keeping the console window of a double-clicked trov.exe open until its last message is read.
#pragma once

#include <cstdio>

namespace trov {

// Whether the window closes the moment the program ends: true only when
// standard input is a console and no other process shares that console, as
// when trov.exe is double-clicked in Explorer. From a command prompt, a
// script or a pipe the window (if any) is someone else's, and nothing waits.
bool window_closes_at_exit(bool input_is_console, unsigned long processes_on_console);

// Asks this process's console the two questions above. Always false where
// consoles do not belong to a process (everywhere but Windows).
bool console_window_closes_at_exit();

// Ends the dialogue in a window about to close: skips what is left of the
// line the name was typed on, writes a blank line and "Press Enter to close
// this window.", and returns after the next Enter or the end of input.
void wait_for_enter(std::FILE* in, std::FILE* out);

}  // namespace trov

// The program's only way of speaking to the user: one text in a message box
// captioned with the program's own file name.
#ifndef KORIMBA_MESSAGES_SHOW_MESSAGE_H
#define KORIMBA_MESSAGES_SHOW_MESSAGE_H

// A message box caption: at most 32 characters and the terminating NUL.
struct Caption {
    char text[33];
};

// The caption for a command line: the text behind its last backslash (after
// any leading number), cut to 32 characters, less one trailing space and
// then one trailing double quote; "Error" when nothing is left.
Caption derive_caption(const char* command_line);

// Shows text in a message box with one OK button and returns when the user
// has closed it. The box runs with the floating-point unit in its initial
// state, and the caller's state is back exactly as it was afterwards.
void show_message(const char* text);

#endif

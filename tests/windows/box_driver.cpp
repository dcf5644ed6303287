// Starts a program with an exact command line and works its message boxes
// as a user would: for each box it prints the caption, the body text and the
// buttons, then clicks OK; at the end it prints the program's exit code.
//   box_driver PROGRAM DIRECTORY
// The command line comes from the environment variable BOX_COMMAND_LINE
// (so that no shell or loader requotes it); without it, it is the quoted
// program path, as Explorer writes it. BOX_TIMEOUT is how many seconds the
// whole run may take (default 240).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void print(const char* text) {
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

struct Search {
    DWORD process_id;
    HWND box;
};

BOOL CALLBACK find_box(HWND window, LPARAM parameter) {
    Search* search = reinterpret_cast<Search*>(parameter);
    DWORD owner_process = 0;
    GetWindowThreadProcessId(window, &owner_process);
    char class_name[16];
    if (owner_process == search->process_id && IsWindowVisible(window) &&
        GetClassNameA(window, class_name, sizeof class_name) && std::strcmp(class_name, "#32770") == 0) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

// The visible push buttons of a box, by their text, comma separated.
struct Buttons {
    char list[256];
    HWND ok;
};

BOOL CALLBACK list_button(HWND child, LPARAM parameter) {
    Buttons* buttons = reinterpret_cast<Buttons*>(parameter);
    char class_name[16];
    if (!IsWindowVisible(child) || !GetClassNameA(child, class_name, sizeof class_name) ||
        lstrcmpiA(class_name, "Button") != 0)
        return TRUE;
    char text[64];
    GetWindowTextA(child, text, sizeof text);
    if (buttons->list[0] != '\0') strncat(buttons->list, ",", sizeof buttons->list - strlen(buttons->list) - 1);
    strncat(buttons->list, text, sizeof buttons->list - strlen(buttons->list) - 1);
    if (GetDlgCtrlID(child) == IDOK) buttons->ok = child;
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        print("usage: box_driver PROGRAM DIRECTORY\n");
        return 2;
    }
    static char command_line[32768];
    const char* given = std::getenv("BOX_COMMAND_LINE");
    if (given != nullptr)
        snprintf(command_line, sizeof command_line, "%s", given);
    else
        snprintf(command_line, sizeof command_line, "\"%s\"", argv[1]);
    const char* timeout_text = std::getenv("BOX_TIMEOUT");
    const DWORD timeout_ms = (timeout_text != nullptr ? std::atoi(timeout_text) : 240) * 1000;

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(argv[1], command_line, nullptr, nullptr, FALSE, 0, nullptr, argv[2], &startup, &process)) {
        char line[128];
        snprintf(line, sizeof line, "could not start the program: error %lu\n", GetLastError());
        print(line);
        return 2;
    }

    const DWORD started = GetTickCount();
    for (;;) {
        if (GetTickCount() - started > timeout_ms) {
            print("timed out\n");
            TerminateProcess(process.hProcess, 99);
            return 2;
        }
        Search search = {process.dwProcessId, nullptr};
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
        if (search.box == nullptr) {
            if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
            continue;
        }
        // The text of the box is in place once it shows; read it, then press
        // OK and wait until the box is gone before looking for the next.
        static char caption[512], text[4096], line[8192];
        GetWindowTextA(search.box, caption, sizeof caption);
        GetDlgItemTextA(search.box, 0xFFFF, text, sizeof text);
        Buttons buttons = {};
        EnumChildWindows(search.box, list_button, reinterpret_cast<LPARAM>(&buttons));
        snprintf(line, sizeof line, "caption: %s\ntext: %s\nbuttons: %s\nowner: %s\n", caption, text, buttons.list,
                 GetWindow(search.box, GW_OWNER) == nullptr ? "none" : "some window");
        print(line);
        if (buttons.ok == nullptr) {
            print("no OK button\n");
            TerminateProcess(process.hProcess, 99);
            return 2;
        }
        SendMessageA(buttons.ok, BM_CLICK, 0, 0);
        while (IsWindow(search.box) && GetTickCount() - started <= timeout_ms) Sleep(20);
    }

    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    char line[64];
    snprintf(line, sizeof line, "exit code: %lu\n", exit_code);
    print(line);
    return 0;
}

#include "bench/program_dialog.h"

#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/app_state.h"
#include "core/dialog_controller.h"
#include "frontend/resource_tables.h"

void RunProgramDialog(const std::function<void(HWND)>& script, const std::function<bool()>& finished)
{
    QTimer poll;
    QTimer::singleShot(0, [&] {
        HWND dialog = AppState.dialog.load();
        script(dialog);
        QObject::connect(&poll, &QTimer::timeout, [&, dialog] {
            if (finished()) {
                poll.stop();
                Press(dialog, IDCANCEL);
            }
        });
        poll.start(5);
    });
    DialogBoxIndirectParamW(nullptr, &MAIN_DIALOG_TEMPLATE, nullptr, MainDlgProc, 0);
}

void Press(HWND dialog, int id)
{
    MainDlgProc(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

long ResidentKiB(int pid)
{
    const std::string path = pid > 0 ? "/proc/" + std::to_string(pid) + "/status" : "/proc/self/status";
    FILE* status = std::fopen(path.c_str(), "r");
    if (status == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::atol(line + 6);
    std::fclose(status);
    return kib;
}

// The process entry: makes the application and hands over to wWinMain.
#include <QApplication>
#include <cstdio>
#include <unistd.h>

#include "frontend/resource_tables.h"
#include "platform/linux/winuser.h"

int main(int argc, char** argv)
{
    int exitCode;
    {
        QApplication application(argc, argv);
        QGuiApplication::setDesktopFileName(QStringLiteral("org.quillomarde.Quillomarde"));
        exitCode = wWinMain(reinterpret_cast<HINSTANCE>(const_cast<ResourceTable*>(&PROGRAM_MODULE)), nullptr,
                           nullptr, SW_SHOWDEFAULT);
    }
    // A worker thread may still be running; like the platform's process
    // exit, end it with the process instead of tearing down under it.
    std::fflush(nullptr);
    _exit(exitCode);
}

#include "options/Hooks.h"

#include "options/TABOUTBOX.h"
#include "options/TMDIBack.h"
#include "options/TOPTION_FORM.h"
#include "shell/WindowHooks.h"

#include <QMainWindow>

namespace vemo::options {

void installWindowHooks()
{
    shell::WindowHooks& h = shell::windowHooks();
    h.installBackground = [](QMainWindow* frame, TMDIBack::Painter paint) {
        auto* back = new TMDIBack(frame); // owned by the frame
        try {
            back->Loaded(std::move(paint));
        } catch (...) {
            delete back;
            throw;
        }
    };
    h.showAbout = [](QWidget* parent) {
        TABOUTBOX box(parent);
        box.exec();
    };
    h.showOptions = [](QWidget* parent) {
        TOPTION_FORM form(parent);
        form.exec();
    };
}

} // namespace vemo::options

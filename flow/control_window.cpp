// The control window: the program's only user interface. It runs inside the
// launch procedure, on the main thread, while no repeating run was chosen.
// Atoms stand between the statements: four clears before every wait and
// every release, one before reading the event's source.
//
// Without its window the event loop would wait for ever with nothing able to
// end it, so a window that cannot be opened is treated as the user's exit.
#include "flow/control_window.h"

#include "exercise/blocks.h"
#include "flow/main_sequence.h"
#include "runtime/window/event.h"
#include "runtime/window/font.h"
#include "runtime/window/gadget.h"
#include "runtime/window/window.h"

// Background colour value 1: red 1, green 0, blue 0 — near black.
constexpr int32_t CONTROL_WINDOW_COLOUR = 1;

void ControlWindowPhase()
{
    ObjectNumber smallFont = FontLoad(ANY_NUMBER, "Arial", 12, FONT_PROOF_QUALITY);
    ObjectNumber largeFont = FontLoad(ANY_NUMBER, "Arial", 14, FONT_PROOF_QUALITY);
    if (WindowOpen(WINDOW_MAIN, 0, 0, 300, 200, "Norvane",
                   WINDOW_CENTRE_SCREEN | WINDOW_TOOL_STYLE) == 0) {
        ShortBlock();
        EndPath();
    }
    WindowSetColor(WINDOW_MAIN, CONTROL_WINDOW_COLOUR);
    ButtonCreate(GADGET_RUN, 20, 20, 256, 60, "Run norvane");
    GadgetSetFont(GADGET_RUN, (intptr_t)FontHandle(largeFont));
    ButtonCreate(GADGET_REPEAT, 20, 100, 256, 40, "Repeat the run every 34min");
    GadgetSetFont(GADGET_REPEAT, (intptr_t)FontHandle(largeFont));
    ButtonCreate(GADGET_EXIT, 230, 155, 50, 35, "EXIT");
    GadgetSetFont(GADGET_EXIT, (intptr_t)FontHandle(smallFont));

    for (;;) {
        FourClears();
        int32_t event = EventWait();
        GprClear(eax);
        ObjectNumber gadget = EventSource();
        if (event == EVT_CLOSE_WINDOW || (event == EVT_GADGET && gadget == GADGET_EXIT)) {
            ShortBlock();
            EndPath();
        }
        if (event == EVT_GADGET) {
            if (gadget == GADGET_REPEAT) {
                GprClear(eax);
                RepeatFlag = 1;
            }
            if (gadget == GADGET_RUN || gadget == GADGET_REPEAT)
                break;
        }
    }

    FourClears();
    GadgetFree(GADGET_RUN);
    FourClears();
    GadgetFree(GADGET_REPEAT);
    FourClears();
    GadgetFree(GADGET_EXIT);
    FourClears();
    FontFree(smallFont);
    FourClears();
    FontFree(largeFont);
    FourClears();
    WindowClose(WINDOW_MAIN);
}

// What a window shows of an update run. The dialog, the console front end and
// the tests each provide one; handleCommand drives it.
#pragma once

#include <cstdint>
#include <string>

#include "update_context.h"

class CommandView {
public:
    virtual ~CommandView() = default;

    // The status box: the text replaces whatever it held.
    virtual void showStatusText(const std::string& text) = 0;
    virtual void showDeviceVersion(const std::string& text) = 0;
    virtual void showImageVersion(const std::string& text) = 0;
    // The Yes/No question; true only when the user answered Yes.
    virtual bool askConfirmation(const std::string& question) = 0;
    // Returns when the user has closed the box.
    virtual void showErrorBox(const std::string& caption, const std::string& message) = 0;
    // The same, with what the message was made of: the record (its errorCode)
    // and the system's error number that came with it (0 when none). A view
    // that says more than the table's text overrides this one.
    virtual void showErrorFor(const std::string& caption, const std::string& message, const UpdateContext& /*ctx*/,
                              int /*number*/)
    {
        showErrorBox(caption, message);
    }
    // The status line, the result line and the question from the record; a
    // view with words of its own overrides these, the dialog keeps the table's.
    virtual void showStatusOf(const UpdateContext& ctx);
    virtual void showResultOf(const UpdateContext& ctx);
    virtual bool askConfirmationOf(const UpdateContext& ctx);
    virtual void enableControls(bool enable) = 0;
    // Range 0..maximum and position 0.
    virtual void setProgressRange(uint32_t maximum) = 0;
    virtual void stepProgress(uint32_t step) = 0;
    virtual void resetProgress() = 0;
    // The final line of a run, chosen by `succeeded`; a status line unless the
    // view shows it otherwise.
    virtual void showFinalText(const std::string& text, bool /*succeeded*/) { showStatusText(text); }
};

// Carries out one posted command on the window thread: the commands' effects
// on the view and the record (the confirmation answer into statusCode). Only
// the low 16 bits of the code and of the argument count, except for CmdError,
// whose argument is the whole socket error number. Returns false for a code
// the worker never posts. Does not signal the worker.
bool carryOutCommand(CommandView& view, UpdateContext* ctx, uintptr_t code, intptr_t argument);

// The window side of the channel: carries out the command, then releases the
// waiting worker. A code the worker never posts is left alone (false).
bool handleUpdateCommand(WindowHandle window, CommandView& view, UpdateContext* ctx, uintptr_t code,
                         intptr_t argument);

// The error message box for errorCode, with `number` in the messages that
// carry one.
void showError(CommandView& view, const UpdateContext& ctx, int number);


// A prompter for tests: records every message and answers from a queue.
#pragma once

#include "platform/Prompter.h"

#include <QDialog>
#include <QStringList>
#include <deque>
#include <functional>

namespace TestSupport {

class ScriptedPrompter final : public Platform::Prompter {
public:
    struct Message {
        QString text;
        QString caption;
        Platform::MsgButtons buttons;
        Platform::MsgIcon icon;
        // What was on screen when it came: a save dialog, another message box.
        bool overSaveDialog = false;
        bool overMessage = false;
    };

    ScriptedPrompter() { Platform::setPrompter(this); }
    ~ScriptedPrompter() override { Platform::setPrompter(nullptr); }

    // Answers for the next message boxes, in order; when the queue is empty
    // the first button (Ok or Yes) is the answer.
    std::deque<Platform::MsgResult> answers;
    // Handlers for the next modal dialogs, in order: each gets the dialog
    // (shown, not executed) and returns the result code. With none queued a
    // dialog is rejected.
    std::deque<std::function<int(QDialog &)>> dialogs;
    std::deque<std::optional<QString>> saveFiles;
    std::deque<std::optional<QString>> directories;

    // Runs while each message box and save dialog is open, as its own event
    // loop would let queued events run meanwhile (an opener that ends).
    std::function<void()> whileOpen;

    std::vector<Message> messages;
    std::vector<Platform::SaveRequest> saveRequests;
    QStringList dialogTitles;

    QStringList texts() const
    {
        QStringList t;
        for (const auto &m : messages)
            t << m.text;
        return t;
    }

    Platform::MsgResult messageBox(QWidget *, const QString &text, const QString &caption,
                                   Platform::MsgButtons buttons, Platform::MsgIcon icon) override
    {
        messages.push_back({text, caption, buttons, icon, saveDialogsOpen_ > 0, boxesOpen_ > 0});
        whileShown(boxesOpen_);
        if (!answers.empty()) {
            auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return (buttons == Platform::MsgButtons::YesNo || buttons == Platform::MsgButtons::YesNoCancel)
                   ? Platform::MsgResult::Yes
                   : Platform::MsgResult::Ok;
    }

    int runDialog(QDialog &dialog) override
    {
        dialogTitles << dialog.windowTitle();
        if (dialogs.empty())
            return QDialog::Rejected;
        auto handler = std::move(dialogs.front());
        dialogs.pop_front();
        dialog.show();
        const int result = handler(dialog);
        dialog.hide();
        dialog.setResult(result);
        return result;
    }

    std::optional<QString> chooseSaveFile(QWidget *, const Platform::SaveRequest &r) override
    {
        saveRequests.push_back(r);
        whileShown(saveDialogsOpen_);
        if (saveFiles.empty())
            return std::nullopt;
        auto f = saveFiles.front();
        saveFiles.pop_front();
        return f;
    }

    std::optional<QString> chooseDirectory(QWidget *, const QString &, const QString &) override
    {
        if (directories.empty())
            return std::nullopt;
        auto d = directories.front();
        directories.pop_front();
        return d;
    }

private:
    void whileShown(int &open)
    {
        if (!whileOpen)
            return;
        ++open;
        whileOpen();
        --open;
    }

    int saveDialogsOpen_ = 0;
    int boxesOpen_ = 0;
};

} // namespace TestSupport

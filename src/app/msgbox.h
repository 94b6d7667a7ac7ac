#pragma once

#include <QString>

#include <functional>

// The program's message boxes: a text, a title and a set of buttons, no icon.
enum class MsgBoxButtons { Ok, OkCancel, YesNo };
enum class MsgBoxAnswer { Ok, Cancel, Yes, No };

struct MsgBoxRequest {
    QString text;
    QString title; // already resolved: never empty
    MsgBoxButtons buttons;
};

// The title every box without a title of its own carries.
QString appTitle();

// Line break inside a two-line box text.
inline constexpr char kCrLf[] = "\r\n";

// Shows a modal box and returns the button pressed. The text is always shown as plain text,
// so a sender or subject taken from mail can never be rendered as markup. In Yes/No boxes Yes
// is the default; closing a box with Escape answers Cancel or No.
MsgBoxAnswer MsgBox(const QString& text, MsgBoxButtons buttons = MsgBoxButtons::Ok,
                    const QString& title = QString());

// Replaces the real boxes, so a test can read every box and script its answer. An empty
// function restores the real boxes.
using MsgBoxHandler = std::function<MsgBoxAnswer(const MsgBoxRequest&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

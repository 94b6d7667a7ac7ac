#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Opens a web page, a document or a folder with the user's own browser or file manager.

// Show modes for the opened window.
inline constexpr int kShowHidden = 0;
inline constexpr int kShowNormal = 1;

// target: a web address ("https://...", "www.example.org") or a file or folder path, relative
// paths taken from directory. verb: "Open" (any letter case) or empty; "Explore" opens a
// folder too. No other verb, and no parameters, can be carried out. Returns whether the target
// was handed to the desktop; a local file or folder that does not exist is not. Nothing is
// reported to the user either way.
bool OpenLink(const QString& target, const QString& verb, const QString& parameters,
              const QString& directory, int showMode);

// What would be opened, as the desktop receives it.
struct LinkRequest {
    QUrl url;
    int showMode = kShowNormal;
};

// Replaces the desktop, so a test can record what would be opened and decide whether the
// desktop accepts it. An empty function restores the desktop.
using LinkOpener = std::function<bool(const LinkRequest& request)>;
void setLinkOpener(LinkOpener opener);

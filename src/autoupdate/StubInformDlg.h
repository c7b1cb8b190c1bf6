#pragma once
// The inform step: a publication that carries an information page instead of an update. The page
// comes from the update folder, must carry the agent's update token, and is shown in a resizable
// window (class "URichEditBox") with a rich-text view and, when the INFO file publishes a web
// address, a button that opens it in the user's browser.
#include <windows.h>

#include <string>

// Downloads and shows the page; once shown, the installed version counts as informed
// ("VersionOriginal" takes "VersionNew"). True when the page was shown or its address opened.
bool PerformAutoInform();

// With a body: the dialog, until the user closes it; with none: the address opened through the
// shell. False when both are empty. `height` and `width` are the dialog's outer size in pixels,
// `fontSize` in points.
bool ShowInform(HWND parent, const std::string& caption, const std::string& buttonCaption, int charset,
                int fontSize, const std::string& fontName, bool rightToLeft, int height, int width,
                const std::string& address, const std::string& body);

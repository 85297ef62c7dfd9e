#ifndef APPEARANCE_H
#define APPEARANCE_H

#include <QPixmap>

// The splash picture from the resources.
QPixmap splashPicture();
// The first stylesheet.css found becomes the application's style sheet.
void loadStyleSheet();
// Registers the four display fonts, each from the first directory that has it.
void registerFonts();
// Organisation, application name and version, and INI settings.
void setIdentity();

#endif

#pragma once

#include <QString>

// Style sheet of the session and bookmark windows: yellow selected rows,
// borderless "myFlat" buttons and blue "myAction" row buttons.
QString sessionStyleSheet();

#pragma once

// Installs the program's and Qt's own translations for the system locale.
void installTranslations();

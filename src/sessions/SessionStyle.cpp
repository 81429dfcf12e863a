#include "SessionStyle.h"

QString sessionStyleSheet()
{
    return QStringLiteral(
        "QTableView { outline: 0; }\n"
        "QTableView::item:selected { background: #FFFFC0; color: black; }\n"
        "QPushButton[myFlat=\"true\"] { border: none; padding: 3px; }\n"
        "QPushButton[myFlat=\"true\"]:hover { border: 1px outset grey; border-radius: 3px; }\n"
        "QPushButton[myFlat=\"true\"]:pressed, QPushButton[myFlat=\"true\"]:checked {"
        " border: 1px outset grey; border-radius: 3px; background: darkgrey; }\n"
        "QPushButton[myFlat=\"true\"]::menu-indicator { image: none; width: 0px; }\n"
        "QPushButton[myAction=\"true\"] { background: #119ED1; border: 1px solid #119ED1;"
        " border-radius: 3px; padding: 3px; }\n"
        "QPushButton[myAction=\"true\"]:pressed { background: #0486B8; }\n"
        "QPushButton[myAction=\"true\"]:disabled { background: #60BCDE; }\n");
}

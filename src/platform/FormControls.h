// Small layout and keyboard rules shared by the program's forms.
#pragma once

#include <initializer_list>

class QButtonGroup;
class QGridLayout;
class QPushButton;

namespace Platform {

// A push button of the framework's standard size, 75 x 25, wider where its
// caption needs room, with padding beside the caption.
void padButton(QPushButton &button);

// Tab and Backtab reach an exclusive radio group at its checked button (the
// first while none is checked); the arrow keys move between the buttons.
void tabToCheckedRadio(QButtonGroup &group);

// Gives the first column of every grid the width of the widest one, so that
// the columns after it start at the same offset in each. Hidden widgets
// count, so showing or hiding a row moves nothing.
void alignFirstColumns(std::initializer_list<QGridLayout *> grids);

} // namespace Platform

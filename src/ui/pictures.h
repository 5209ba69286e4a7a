#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

#include "ui/command_rules.h"
#include "ui/grid_cells.h"

// The program's own pictures, painted at run time: the task states of the grid and the tray menu,
// the sort arrows, the tray frames, the toolbar and the logo.
namespace zentrove::ui {

inline constexpr int kPictureSize = 16;

const QPixmap& TaskPixmap(TaskPicture picture);
QIcon TaskIcon(TaskPicture picture);
// Descending when `down` is set.
const QPixmap& SortArrow(bool down);
// The tray icon; frames other than 0 animate a run.
QIcon TrayIcon(int frame);
inline constexpr int kTrayFrameCount = 4;
QIcon CommandIcon(Command command);
// 290 by 180 pixels.
QPixmap LogoPicture();

// A colour value with red in its lowest byte, then green, then blue.
QColor ColourFromValue(int value);

}  // namespace zentrove::ui

#include "ui/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <map>

namespace zentrove::ui {
namespace {

QPixmap Blank(int size = kPictureSize) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A box with a lid: the archive; its colour tells the archiver.
void PaintBox(QPainter& painter, const QColor& colour) {
  painter.setPen(QPen(colour.darker(160), 1));
  painter.setBrush(colour);
  painter.drawRect(2, 5, 11, 9);
  painter.setBrush(colour.lighter(130));
  painter.drawRect(1, 2, 13, 3);
  painter.setPen(QPen(colour.darker(200), 1));
  painter.drawLine(6, 8, 9, 8);
}

void PaintFolder(QPainter& painter, const QColor& colour) {
  painter.setPen(QPen(colour.darker(170), 1));
  painter.setBrush(colour);
  QPainterPath path;
  path.moveTo(1, 4);
  path.lineTo(6, 4);
  path.lineTo(7, 5);
  path.lineTo(14, 5);
  path.lineTo(14, 13);
  path.lineTo(1, 13);
  path.closeSubpath();
  painter.drawPath(path);
}

void PaintGlobe(QPainter& painter, const QColor& colour) {
  painter.setPen(QPen(colour.darker(170), 1));
  painter.setBrush(colour);
  painter.drawEllipse(1, 1, 13, 13);
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(5, 1, 5, 13);
  painter.drawLine(1, 7, 14, 7);
}

void PaintPlay(QPainter& painter, const QColor& colour) {
  painter.setPen(QPen(colour.darker(170), 1));
  painter.setBrush(colour);
  const QPointF points[] = {{3, 2}, {13, 7.5}, {3, 13}};
  painter.drawPolygon(points, 3);
}

QPixmap Paint(TaskPicture picture) {
  QPixmap pixmap = Blank();
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (picture) {
    case TaskPicture::Edited:
      painter.setPen(QPen(QColor(90, 60, 20), 1));
      painter.setBrush(QColor(240, 200, 60));
      painter.drawPolygon(QPolygonF({{3, 11}, {11, 3}, {13, 5}, {5, 13}, {2, 14}}));
      break;
    case TaskPicture::Paused:
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(230, 150, 20));
      painter.drawRect(3, 2, 4, 12);
      painter.drawRect(9, 2, 4, 12);
      break;
    case TaskPicture::RunningInnerZip:
      PaintPlay(painter, QColor(40, 170, 60));
      break;
    case TaskPicture::Running:
      PaintPlay(painter, QColor(40, 120, 200));
      break;
    case TaskPicture::Inactive:
      painter.setPen(QPen(QColor(150, 20, 20), 2));
      painter.setBrush(QColor(230, 90, 90));
      painter.drawEllipse(2, 2, 12, 12);
      painter.drawLine(5, 11, 11, 5);
      break;
    case TaskPicture::ProgramsOnly:
      painter.setPen(QPen(QColor(60, 60, 60), 1));
      painter.setBrush(QColor(200, 200, 210));
      painter.drawRect(1, 2, 14, 11);
      painter.setBrush(QColor(60, 60, 90));
      painter.drawRect(1, 2, 14, 3);
      break;
    case TaskPicture::ArchiveInnerZip:
      PaintBox(painter, QColor(210, 160, 80));
      break;
    case TaskPicture::ArchiveExternal:
      PaintBox(painter, QColor(150, 130, 200));
      break;
    case TaskPicture::Copy:
      PaintFolder(painter, QColor(240, 210, 90));
      painter.setPen(QPen(QColor(40, 100, 40), 2));
      painter.drawLine(5, 9, 11, 9);
      painter.drawLine(9, 7, 11, 9);
      painter.drawLine(9, 11, 11, 9);
      break;
    case TaskPicture::Ftp:
      PaintGlobe(painter, QColor(90, 160, 230));
      break;
    case TaskPicture::ExtraFolder:
      PaintFolder(painter, QColor(240, 210, 90));
      break;
    case TaskPicture::NoExtraFolder:
      painter.setPen(QPen(QColor(190, 190, 190), 1, Qt::DotLine));
      painter.setBrush(Qt::NoBrush);
      painter.drawRect(2, 5, 11, 8);
      break;
  }
  return pixmap;
}

}  // namespace

const QPixmap& TaskPixmap(TaskPicture picture) {
  static std::map<TaskPicture, QPixmap> cache;
  auto found = cache.find(picture);
  if (found == cache.end()) found = cache.emplace(picture, Paint(picture)).first;
  return found->second;
}

QIcon TaskIcon(TaskPicture picture) {
  return QIcon(TaskPixmap(picture));
}

const QPixmap& SortArrow(bool down) {
  static const auto paint = [](bool pointsDown) {
    QPixmap pixmap = Blank();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 70, 70));
    if (pointsDown) {
      painter.drawPolygon(QPolygonF({{3, 5}, {13, 5}, {8, 11}}));
    } else {
      painter.drawPolygon(QPolygonF({{3, 11}, {13, 11}, {8, 5}}));
    }
    return pixmap;
  };
  static const QPixmap downArrow = paint(true);
  static const QPixmap upArrow = paint(false);
  return down ? downArrow : upArrow;
}

QIcon TrayIcon(int frame) {
  QPixmap pixmap = Blank(32);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, 0, 32);
  gradient.setColorAt(0, QColor(70, 140, 220));
  gradient.setColorAt(1, QColor(30, 80, 160));
  painter.setPen(QPen(QColor(20, 50, 110), 1.5));
  painter.setBrush(gradient);
  painter.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
  painter.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPolyline(QPolygonF({{9, 10}, {23, 10}, {9, 22}, {23, 22}}));
  if (frame % kTrayFrameCount != 0) {
    // A run: a dot circles the corner.
    static constexpr QPointF kDots[] = {{26, 6}, {26, 26}, {6, 26}};
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(120, 230, 90));
    painter.drawEllipse(kDots[(frame % kTrayFrameCount) - 1], 4.5, 4.5);
  }
  return QIcon(pixmap);
}

QIcon CommandIcon(Command command) {
  QPixmap pixmap = Blank(24);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(1.5, 1.5);
  switch (command) {
    case Command::AAddTask:
      PaintBox(painter, QColor(210, 160, 80));
      painter.setPen(QPen(QColor(30, 130, 30), 2.5));
      painter.drawLine(12, 10, 12, 16);
      painter.drawLine(9, 13, 15, 13);
      break;
    case Command::ChangeTask:
      return QIcon(TaskPixmap(TaskPicture::Edited).scaled(24, 24));
    case Command::DeleteTask:
      painter.setPen(QPen(QColor(190, 30, 30), 3, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(3, 3, 13, 13);
      painter.drawLine(13, 3, 3, 13);
      break;
    case Command::ExecuteTask:
      PaintPlay(painter, QColor(40, 170, 60));
      break;
    case Command::StopTask:
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(200, 40, 40));
      painter.drawRect(3, 3, 10, 10);
      break;
    case Command::PauseTask:
      return QIcon(TaskPixmap(TaskPicture::Paused).scaled(24, 24));
    case Command::OpenDirect:
      PaintFolder(painter, QColor(240, 210, 90));
      break;
    case Command::TaskOption:
      painter.setPen(QPen(QColor(80, 80, 90), 2));
      painter.setBrush(QColor(170, 170, 185));
      painter.drawEllipse(3, 3, 10, 10);
      painter.setBrush(Qt::white);
      painter.drawEllipse(6, 6, 4, 4);
      break;
    case Command::ZTHelp:
    case Command::ZTAbout: {
      painter.setPen(Qt::NoPen);
      painter.setBrush(command == Command::ZTHelp ? QColor(60, 130, 210) : QColor(90, 90, 100));
      painter.drawEllipse(1, 1, 14, 14);
      painter.setPen(Qt::white);
      QFont font = painter.font();
      font.setBold(true);
      font.setPixelSize(11);
      painter.setFont(font);
      painter.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, command == Command::ZTHelp ? "?" : "i");
      break;
    }
    case Command::ExitAction:
      painter.setPen(QPen(QColor(120, 40, 40), 2, Qt::SolidLine, Qt::RoundCap));
      painter.setBrush(Qt::NoBrush);
      painter.drawArc(QRectF(2, 3, 12, 12), 120 * 16, 300 * 16);
      painter.drawLine(8, 1, 8, 8);
      break;
    default:
      break;
  }
  return QIcon(pixmap);
}

QPixmap LogoPicture() {
  QPixmap pixmap(290, 180);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(0, 0, 290, 180);
  gradient.setColorAt(0, QColor(40, 100, 190));
  gradient.setColorAt(1, QColor(15, 45, 100));
  painter.fillRect(pixmap.rect(), gradient);
  painter.setPen(QPen(Qt::white, 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPolyline(QPolygonF({{40, 45}, {100, 45}, {40, 115}, {100, 115}}));
  QFont font = painter.font();
  font.setPixelSize(34);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(112, 55, 170, 50), Qt::AlignLeft | Qt::AlignVCenter, "Zentrove");
  font.setPixelSize(12);
  font.setBold(false);
  painter.setFont(font);
  painter.setPen(QColor(200, 220, 250));
  painter.drawText(QRect(114, 95, 170, 20), Qt::AlignLeft | Qt::AlignVCenter, "Backup scheduler");
  return pixmap;
}

QColor ColourFromValue(int value) {
  const auto bits = static_cast<unsigned>(value);
  return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                static_cast<int>((bits >> 16) & 0xFFu));
}

}  // namespace zentrove::ui

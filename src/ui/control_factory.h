#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <utility>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace valve::ui {

// Small helpers that create a control at a fixed place with its name and
// caption, so the builders of the windows read like the window design.

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, const QRect& place);
// Shrinks the button's type until its caption fits its fixed width.
void fitCaption(QPushButton* button);

enum class Editing { Editable, ReadOnly };
QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QString& shows, const QRect& place,
                       Editing editing = Editing::Editable);

QGroupBox* makeFrame(QWidget* parent, const QString& name, const QString& caption, const QRect& place);

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, const QRect& place,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);

// A drop-down list whose prompt is shown while no entry is picked; every entry
// carries its code as item data.
using CodedEntry = std::pair<QString, int>;
QComboBox* makeDropDown(QWidget* parent, const QString& name, const QString& prompt, const QString& shows,
                        const QList<CodedEntry>& entries, const QRect& place);

// A thin sunken line (vertical when taller than wide).
QFrame* makeLine(QWidget* parent, const QString& name, const QRect& place);

} // namespace valve::ui

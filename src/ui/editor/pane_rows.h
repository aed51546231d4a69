#pragma once

// The settings pane of the Now Playing tab, laid out row by row.

#include "ui/editor/tab_link.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <utility>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace ondaline::editor {

class ColorWell;
class DoubleSlider;

// A slider with its value written beside it, as `text` writes a value.
struct ValueSlider {
    DoubleSlider* slider = nullptr;
    QLabel* label = nullptr;
    QString (*text)(double) = nullptr;

    // Set in code, reporting nothing: the slider takes the value (clamped),
    // the label writes the value as given.
    void show(double value) const;
    void showCount(std::int64_t count) const;
    // A stored fraction on a percent slider, kept exact until it moves.
    void showFraction(double fraction) const;
};

// The sliders of a box's place and size on the frame.
struct BoxSliders {
    DoubleSlider* x = nullptr;
    DoubleSlider* y = nullptr;
    DoubleSlider* width = nullptr;
    DoubleSlider* height = nullptr;

    // Set in code, reporting nothing.
    void show(double left, double bottom, double boxWidth, double boxHeight) const;
    void read(double& left, double& bottom, double& boxWidth, double& boxHeight) const;
};

// Places the controls of a pane's document in the running row, whose top
// in the document is `y`. Each change the user makes to one of them runs
// `changed`, the source file's field excepted.
class PaneRows {
public:
    PaneRows(QWidget& document, std::function<void(Redraw)> changed);

    int y = 8;

    QLabel* label(const QString& text, int x, int width, bool bold = false);
    QLineEdit* field(int x, int width, const QString& placeholder = {});
    QLineEdit* refreshingField(int x, int width, const QString& placeholder = {});
    QLineEdit* sizeField(int x, int width);
    DoubleSlider* slider(int x, int width, double value, double minimum, double maximum);
    // A slider at [x, x + width) and its value's label at [labelX, labelX + labelWidth).
    ValueSlider valueSlider(int x, int width, double value, double minimum, double maximum, QString (*text)(double),
                            int labelX, int labelWidth, bool rightAligned);
    ColorWell* well(int x, int width = 40, int height = 24);
    QComboBox* popup(int x, int width, const QStringList& items, int lift = 2);
    QCheckBox* check(const QString& text, int x, int width);
    QCheckBox* groupCheck(const QString& text, int x, int width);
    // A place on the frame: H and V on the running row.
    std::pair<DoubleSlider*, DoubleSlider*> positionRow(double h, double v);
    // A box: its place on the running row, its size (W and Ht) on the next.
    BoxSliders boxRows(double h, double v, double w, double minW, double ht, double minHt, double maxHt);
    void separator();

private:
    std::pair<DoubleSlider*, DoubleSlider*> sizeRow(double w, double minW, double ht, double minHt, double maxHt);

    QWidget& document_;
    std::function<void(Redraw)> changed_;
};

}  // namespace ondaline::editor

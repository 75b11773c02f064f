// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace platform {
class QtPictureBox;
}

// The program's one window: the photograph on the left, its rendering on
// the right, the parameter box with its prompt and note, and three buttons.
// Positions and sizes are given in twips and laid out at the given density.
class Form1 : public QWidget {
    Q_OBJECT

public:
    Form1(int twipsPerPixel, const QImage& photograph, QWidget* parent = nullptr);

    QPushButton* cmdRestart() const { return cmdRestart_; }
    QPushButton* Quit() const { return quit_; }
    QLineEdit* txtBrightness() const { return txtBrightness_; }
    platform::QtPictureBox* PicTo() const { return picTo_; }
    QPushButton* cmdGo() const { return cmdGo_; }
    platform::QtPictureBox* PicFrom() const { return picFrom_; }
    QLabel* Label2() const { return label2_; }
    QLabel* Label1() const { return label1_; }

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QRect fromTwips(int left, int top, int width, int height) const;
    template <typename Control> Control* place(Control* control, const char* name, QRect geometry);

    int twipsPerPixel_;
    QPushButton* cmdRestart_;
    QPushButton* quit_;
    QLineEdit* txtBrightness_;
    platform::QtPictureBox* picTo_;
    QPushButton* cmdGo_;
    platform::QtPictureBox* picFrom_;
    QLabel* label2_;
    QLabel* label1_;
};

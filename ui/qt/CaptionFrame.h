// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A frame with a caption, drawn as lines only: what lies under it (the page drawings of the
// main window) shows through unchanged.

#include <QString>
#include <QWidget>

namespace norvex::qt {

class CaptionFrame final : public QWidget {
    Q_OBJECT
public:
    CaptionFrame(const QString& title, QWidget* parent);

    QString title() const { return title_; }
    void setTitle(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
};

} // namespace norvex::qt

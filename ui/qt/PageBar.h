// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bar below the page area: the page's buttons, built from the page's bar template. Every
// button reports its id; the caller routes it to the main window's logic.

#include "TemplateBuilder.h"
#include "control/Page.h"

#include <QWidget>

#include <functional>

namespace norvex::qt {

class PageBar final : public QWidget {
    Q_OBJECT
public:
    // `command` gets the id of each button pressed (the default button also by Enter).
    PageBar(Page page, QWidget* parent, std::function<void(int id)> command);

    Page page() const { return page_; }
    const BuiltControls& controls() const { return controls_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Page page_;
    BuiltControls controls_;
    std::function<void(int)> command_;
};

} // namespace norvex::qt

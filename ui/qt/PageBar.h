#pragma once
// The bar below the page area: the page's buttons, built from the page's bar template. Every
// button reports its id; the caller routes it to the main window's logic.

#include "TemplateBuilder.h"

#include <QWidget>

#include <functional>

namespace norvex::qt {

class PageBar final : public QWidget {
    Q_OBJECT
public:
    // `command` gets the id of each button pressed (the default button also by Enter).
    PageBar(int page, QWidget* parent, std::function<void(int id)> command);

    int page() const { return page_; }
    const BuiltControls& controls() const { return controls_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int page_;
    BuiltControls controls_;
    std::function<void(int)> command_;
};

} // namespace norvex::qt

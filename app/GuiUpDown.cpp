#include "GuiUpDown.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

GuiUpDown::GuiUpDown(QLineEdit* buddy, int min, int max, QWidget* parent)
    : QWidget(parent), buddy_(buddy), min_(min), max_(max)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    up_ = new QToolButton(this);
    up_->setObjectName("up");
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setObjectName("down");
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setFixedSize(16, 11);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        column->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, [this] { StepUp(); });
    connect(down_, &QToolButton::clicked, this, [this] { StepDown(); });
    buddy_->installEventFilter(this);
    setFixedWidth(16);
}

int GuiUpDown::Position() const
{
    bool ok = false;
    const int typed = buddy_->text().trimmed().toInt(&ok);
    return ok ? std::clamp(typed, min_, max_) : min_;
}

void GuiUpDown::StepUp() { Step(+1); }
void GuiUpDown::StepDown() { Step(-1); }

void GuiUpDown::Step(int delta)
{
    bool ok = false;
    const int typed = buddy_->text().trimmed().toInt(&ok);
    const int next = ok ? std::clamp(typed + delta, min_, max_) : min_;
    buddy_->setText(QString::number(next));
}

void GuiUpDown::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        up_->setEnabled(isEnabled());
        down_->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}

bool GuiUpDown::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

#include "app/FormControls.h"

#include <QHeaderView>
#include <QPainter>
#include <QToolButton>

namespace pelbrisk {

TDirTreeView::TDirTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    // A long folder name is read by scrolling sideways rather than cut short.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TDirTreeView::SetEmptyText(const QString& text) {
    emptyText_ = text;
    viewport()->update();
}

QItemSelectionModel::SelectionFlags TDirTreeView::selectionCommand(const QModelIndex& index,
                                                                   const QEvent* event) const {
    const auto flags = QTreeWidget::selectionCommand(index, event);
    if (flags & QItemSelectionModel::Deselect)
        return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    return flags;
}

// The column is as wide as its longest caption, so that the tree scrolls sideways to it, and never
// narrower than the view, so that a selected row shows across the whole view.
int TDirTreeView::sizeHintForColumn(int column) const {
    return std::max(QTreeWidget::sizeHintForColumn(column), viewport()->width());
}

void TDirTreeView::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    header()->resizeSections(QHeaderView::ResizeToContents);
}

void TDirTreeView::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    if (topLevelItemCount() > 0) return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                     emptyText_);
}

int TScrollingMenuStyle::styleHint(StyleHint hint, const QStyleOption* option,
                                   const QWidget* widget, QStyleHintReturn* answer) const {
    if (hint == SH_Menu_Scrollable) return 1;
    return QProxyStyle::styleHint(hint, option, widget, answer);
}

int TJumpingBarStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                QStyleHintReturn* answer) const {
    if (hint == SH_ScrollBar_LeftClickAbsolutePosition) return 1;
    return QProxyStyle::styleHint(hint, option, widget, answer);
}

void ShowToggleStatePlainly(QToolButton* toggle) {
    toggle->setStyleSheet(
        "QToolButton:checked { background: palette(highlight); color: palette(highlighted-text);"
        " border: 1px solid palette(dark); }");
}

void KeepSelectionVisible(QWidget* control) {
    QPalette palette = control->palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    control->setPalette(palette);
}

QToolButton* CreateSpeedButton(QWidget* parent, const QRect& place, const QString& caption,
                               const QString& hint, bool toggle) {
    auto* button = new QToolButton(parent);
    button->setGeometry(place);
    button->setText(caption);
    button->setToolTip(hint);
    button->setCheckable(toggle);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace pelbrisk

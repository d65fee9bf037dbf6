#pragma once

#include <QProxyStyle>
#include <QTreeWidget>

class QToolButton;

namespace pelbrisk {

// The folder tree's control. Ctrl+click keeps the selection, so that Ctrl+double-click opens the
// clicked folder recursively instead of deselecting it first; a long caption is read by scrolling
// sideways; an empty tree says how music gets in.
class TDirTreeView : public QTreeWidget {
public:
    explicit TDirTreeView(QWidget* parent);

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    int sizeHintForColumn(int column) const override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A menu taller than the screen scrolls in one column instead of spilling over in columns.
class TScrollingMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override;
};

// Keeps the selection's colour when the control loses the focus.
void KeepSelectionVisible(QWidget* control);

// A speed button of the button panel, 19 x 18 at (left, top); `toggle` makes it stay down.
QToolButton* CreateSpeedButton(QWidget* parent, int left, int top, const QString& caption,
                               const QString& hint, bool toggle);

} // namespace pelbrisk

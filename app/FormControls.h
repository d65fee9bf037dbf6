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
    // What the tree says while it is empty.
    void SetEmptyText(const QString& text);
    const QString& EmptyText() const { return emptyText_; }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    int sizeHintForColumn(int column) const override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString emptyText_;
};

// A menu taller than the screen scrolls in one column instead of spilling over in columns.
class TScrollingMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override;
};

// A click in a bar's trough puts the thumb there (and a drag goes on from it), rather than
// stepping a page towards it.
class TJumpingBarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override;
};

// A toggle that is down shows so plainly, in the selection's colours.
void ShowToggleStatePlainly(QToolButton* toggle);

// Keeps the selection's colour when the control loses the focus.
void KeepSelectionVisible(QWidget* control);

// A speed button of the button panel at `place`; `toggle` makes it stay down.
QToolButton* CreateSpeedButton(QWidget* parent, const QRect& place, const QString& caption,
                               const QString& hint, bool toggle);

} // namespace pelbrisk

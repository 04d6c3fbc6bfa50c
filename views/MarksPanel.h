#pragma once

#include <QWidget>

class AnnotationStore;
class QLabel;
class QPushButton;
class QTableWidget;

// The session's marks as a list: bookmarks numbered as on the slide
// pictures, then name, x and y in millimetres and z in micrometres. A name
// can be edited in place; "Go To" asks for a move to the selected mark.
class MarksPanel : public QWidget
{
    Q_OBJECT

public:
    MarksPanel(QWidget* parent, AnnotationStore* store);

    QTableWidget* table = nullptr;
    QPushButton* goToButton = nullptr;
    QPushButton* deleteButton = nullptr;

    // For marks made on a file, not the live picture: its own hint, no focus column.
    void showForFile(const QString& hintText);

    // Where Go To goes for a mark: its point, or the middle of its shape.
    static QPointF placeOf(const QVector<QPointF>& pointsMm);

signals:
    void goToRequested(int id);

private:
    void refill();
    void selectionMoved();
    void nameEdited(int row, int column);
    int selectedId() const;

    AnnotationStore* store;
    QLabel* hint = nullptr;
    bool filling = false;
};

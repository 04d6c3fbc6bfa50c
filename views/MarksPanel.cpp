#include "views/MarksPanel.h"

#include "views/marks/AnnotationStore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPolygonF>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { Number, Name, X, Y, Z, Columns };

QTableWidgetItem* fixedItem(const QString& text, int id)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setData(Qt::UserRole, id);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

MarksPanel::MarksPanel(QWidget* parent, AnnotationStore* marks)
    : QWidget(parent)
    , store(marks)
{
    setObjectName(QStringLiteral("marksPanel"));
    hint = new QLabel(tr("Bookmark Position (Ctrl+D), measure (Ctrl+M) or annotate (Ctrl+Shift+A) "
                         "in the video window; double-click a name to rename it."),
                      this);
    hint->setWordWrap(true);
    QFont small = hint->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    hint->setFont(small);

    table = new QTableWidget(0, Columns, this);
    table->setObjectName(QStringLiteral("marksTable"));
    table->setHorizontalHeaderLabels({tr("#"), tr("Name"), tr("X (mm)"), tr("Y (mm)"), tr("Z (µm)")});
    table->verticalHeader()->hide();
    // A name on one line, cut short with its whole text in the tooltip, keeps the rows even.
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QHeaderView* header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(Name, QHeaderView::Stretch);

    goToButton = new QPushButton(tr("Go To"), this);
    goToButton->setObjectName(QStringLiteral("goToButton"));
    deleteButton = new QPushButton(tr("Delete"), this);
    deleteButton->setObjectName(QStringLiteral("deleteMarkButton"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(deleteButton);
    buttons->addWidget(goToButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->addWidget(hint);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);

    // Queued: a rename made from within the table must not replace its items under the edit.
    connect(store, &AnnotationStore::changed, this, &MarksPanel::refill, Qt::QueuedConnection);
    connect(table, &QTableWidget::itemSelectionChanged, this, &MarksPanel::selectionMoved);
    connect(table, &QTableWidget::cellChanged, this, &MarksPanel::nameEdited);
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int, int column) {
        if (column != Name && selectedId())
            emit goToRequested(selectedId());
    });
    connect(goToButton, &QPushButton::clicked, this, [this] {
        if (selectedId())
            emit goToRequested(selectedId());
    });
    connect(deleteButton, &QPushButton::clicked, this, [this] { store->remove(selectedId()); });
    refill();
}

void MarksPanel::showForFile(const QString& hintText)
{
    hint->setText(hintText);
    table->setColumnHidden(Z, true);
    // Room for the name beside the two coordinates.
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("meas. Measurement 10 000.0000 000.0000")) + 40);
}

QPointF MarksPanel::placeOf(const QVector<QPointF>& pointsMm)
{
    return QPolygonF(pointsMm).boundingRect().center();
}

void MarksPanel::refill()
{
    filling = true;
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    table->setRowCount(int(store->all().size()));
    int row = 0;
    for (const Annotation& mark : store->all()) {
        const QPointF place = placeOf(mark.pointsMm);
        const int number = store->bookmarkNumber(mark.id);
        const QString label = number                                ? QString::number(number)
                              : mark.kind == Annotation::Kind::Note ? tr("note")
                                                                    : tr("meas.");
        table->setItem(row, Number, fixedItem(label, mark.id));
        auto* name = new QTableWidgetItem(mark.name);
        name->setData(Qt::UserRole, mark.id);
        name->setToolTip(mark.name + QLatin1Char('\n') + mark.figures());
        table->setItem(row, Name, name);
        table->setItem(row, X, fixedItem(locale.toString(place.x(), 'f', 4), mark.id));
        table->setItem(row, Y, fixedItem(locale.toString(place.y(), 'f', 4), mark.id));
        table->setItem(row, Z, fixedItem(locale.toString(mark.zMicrometres, 'f', 1), mark.id));
        if (mark.id == store->selectedId())
            table->selectRow(row);
        ++row;
    }
    if (!store->selectedId())
        table->clearSelection();
    filling = false;
    goToButton->setEnabled(selectedId() != 0);
    deleteButton->setEnabled(selectedId() != 0);
}

void MarksPanel::selectionMoved()
{
    goToButton->setEnabled(selectedId() != 0);
    deleteButton->setEnabled(selectedId() != 0);
    if (!filling)
        store->select(selectedId());
}

void MarksPanel::nameEdited(int row, int column)
{
    if (filling || column != Name)
        return;
    const QTableWidgetItem* item = table->item(row, column);
    const QString name = item->text().trimmed();
    const int id = item->data(Qt::UserRole).toInt();
    // An emptied name falls back to what it was.
    if (name.isEmpty())
        refill();
    else
        store->rename(id, name);
}

int MarksPanel::selectedId() const
{
    const QList<QTableWidgetItem*> items = table->selectedItems();
    return items.isEmpty() ? 0 : items.first()->data(Qt::UserRole).toInt();
}

#pragma once

#include "views/marks/Annotation.h"

#include <QList>
#include <QObject>

// The marks of one control session, in the order they were made, and which
// of them is selected. Nothing is written to disk: marks leave the session
// only through an export.
class AnnotationStore : public QObject
{
    Q_OBJECT

public:
    explicit AnnotationStore(QObject* parent = nullptr);

    const QList<Annotation>& all() const { return marks; }
    // Null when no mark has the id.
    const Annotation* find(int id) const;
    // 1 for the first bookmark of the session, 2 for the next; 0 for other marks.
    int bookmarkNumber(int id) const;
    int selectedId() const { return selected; }

    // Gives the mark its id and returns it.
    int add(Annotation mark);
    void addAll(const QList<Annotation>& added);
    void remove(int id);
    void rename(int id, const QString& name);
    // 0 selects nothing.
    void select(int id);

signals:
    void changed();

private:
    QList<Annotation> marks;
    int nextId = 1;
    int selected = 0;
};

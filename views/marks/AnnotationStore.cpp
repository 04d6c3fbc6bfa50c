#include "views/marks/AnnotationStore.h"

AnnotationStore::AnnotationStore(QObject* parent)
    : QObject(parent)
{
}

const Annotation* AnnotationStore::find(int id) const
{
    for (const Annotation& mark : marks)
        if (mark.id == id)
            return &mark;
    return nullptr;
}

int AnnotationStore::bookmarkNumber(int id) const
{
    int number = 0;
    for (const Annotation& mark : marks) {
        if (mark.kind == Annotation::Kind::Bookmark)
            ++number;
        if (mark.id == id)
            return mark.kind == Annotation::Kind::Bookmark ? number : 0;
    }
    return 0;
}

int AnnotationStore::add(Annotation mark)
{
    mark.id = nextId++;
    marks.append(mark);
    emit changed();
    return mark.id;
}

void AnnotationStore::addAll(const QList<Annotation>& added)
{
    for (Annotation mark : added) {
        mark.id = nextId++;
        marks.append(mark);
    }
    emit changed();
}

void AnnotationStore::remove(int id)
{
    for (int i = 0; i < marks.size(); ++i)
        if (marks[i].id == id) {
            marks.removeAt(i);
            if (selected == id)
                selected = 0;
            emit changed();
            return;
        }
}

void AnnotationStore::rename(int id, const QString& name)
{
    for (Annotation& mark : marks)
        if (mark.id == id && mark.name != name) {
            mark.name = name;
            emit changed();
            return;
        }
}

void AnnotationStore::select(int id)
{
    if (id == selected || (id != 0 && !find(id)))
        return;
    selected = id;
    emit changed();
}

#pragma once

#include <QString>

// Text that the server chose, made safe to lay out: Qt's line breaking takes
// time growing with the square of a word's length, so a reply holding one
// enormous word would freeze the window. Runs without white space longer than
// maxRun get an invisible break opportunity (U+200B) every maxRun characters.
namespace ServerText {

QString breakLongRuns(const QString& text, int maxRun = 1024);

// The same for rich text: tags (with their quoted attributes) and entities
// such as "&amp;" are copied whole and never broken; an entity counts as one
// character of its run. A '<' without its '>' or an '&' without its ';' is
// plain text.
QString breakLongRunsInMarkup(const QString& text, int maxRun = 1024);

} // namespace ServerText

#include "acquire/Recipe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <limits>

namespace {

// Thrown inside the reader, caught once at its top with the line it names.
struct Refusal
{
    int line;
    QString reason;
};

int lineOf(const YAML::Node& node)
{
    return node.Mark().line + 1;
}

[[noreturn]] void refuse(const YAML::Node& node, const QString& reason)
{
    throw Refusal{lineOf(node), reason};
}

QString text(const YAML::Node& node, const QString& what)
{
    if (!node.IsScalar())
        refuse(node, QStringLiteral("%1 must be a single value").arg(what));
    return QString::fromStdString(node.Scalar()).trimmed();
}

// Numbers are read in the C locale whatever the desktop's decimal sign.
double number(const YAML::Node& node, const QString& what, double low, double high)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text(node, what), &ok);
    if (!ok || !std::isfinite(value))
        refuse(node, QStringLiteral("%1 is not a number").arg(what));
    if (value < low || value > high)
        refuse(node, QStringLiteral("%1 must lie between %2 and %3").arg(what).arg(low).arg(high));
    return value;
}

int integer(const YAML::Node& node, const QString& what, int low, int high)
{
    bool ok = false;
    const int value = QLocale::c().toInt(text(node, what), &ok);
    if (!ok)
        refuse(node, QStringLiteral("%1 must be a whole number").arg(what));
    if (value < low || value > high)
        refuse(node, QStringLiteral("%1 must lie between %2 and %3").arg(what).arg(low).arg(high));
    return value;
}

bool boolean(const YAML::Node& node, const QString& what)
{
    const QString value = text(node, what);
    if (value == QLatin1String("true"))
        return true;
    if (value != QLatin1String("false"))
        refuse(node, QStringLiteral("%1 must be true or false").arg(what));
    return false;
}

// A mapping whose keys are all among `known`; every name in `required` present.
void checkKeys(const YAML::Node& node, const QString& what, const QStringList& known, const QStringList& required = {})
{
    // "picture:" alone takes every default.
    if (node.IsNull() && required.isEmpty())
        return;
    if (!node.IsMap())
        refuse(node, QStringLiteral("%1 needs its settings as \"key: value\" pairs").arg(what));
    for (auto it = node.begin(); it != node.end(); ++it) {
        const QString key = QString::fromStdString(it->first.Scalar());
        if (!known.contains(key))
            refuse(it->first, QStringLiteral("unknown key \"%1\" in %2 (known: %3)").arg(key, what, known.join(", ")));
    }
    for (const QString& key : required)
        if (!node[key.toStdString()])
            refuse(node, QStringLiteral("%1 needs \"%2\"").arg(what, key));
}

QPointF corner(const YAML::Node& node, const QString& what)
{
    checkKeys(node, what, {"x", "y"}, {"x", "y"});
    return QPointF(number(node["x"], what + QStringLiteral(" x (mm)"), 0, Recipe::maxXMm),
                   number(node["y"], what + QStringLiteral(" y (mm)"), 0, Recipe::maxYMm));
}

void readRegion(const YAML::Node& node, const QString& what, RecipeStep* step)
{
    step->fromMm = corner(node["from"], what + QStringLiteral(" corner \"from\""));
    step->toMm = corner(node["to"], what + QStringLiteral(" corner \"to\""));
    if (step->fromMm.x() >= step->toMm.x() || step->fromMm.y() >= step->toMm.y())
        refuse(node["to"], QStringLiteral("the %1 corner \"to\" must lie right of and below \"from\"").arg(what));
}

// The Point features of a marks file that Tessan wrote, in file order.
QVector<RecipeStep> readMarks(const YAML::Node& node, const QString& path, int line)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuse(node, QStringLiteral("cannot read the marks file %1 (%2)").arg(path, file.errorString()));
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(64 << 20), &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        refuse(node, QStringLiteral("the marks file %1 is not GeoJSON").arg(path));
    QVector<RecipeStep> gotos;
    const QJsonArray features = doc.object().value(QStringLiteral("features")).toArray();
    for (const QJsonValue& feature : features) {
        const QJsonObject geometry = feature.toObject().value(QStringLiteral("geometry")).toObject();
        const QJsonObject properties = feature.toObject().value(QStringLiteral("properties")).toObject();
        if (geometry.value(QStringLiteral("type")).toString() != QLatin1String("Point"))
            continue;
        const QJsonArray at = geometry.value(QStringLiteral("coordinates")).toArray();
        RecipeStep step;
        step.line = line;
        step.xMm = at.at(0).toDouble(-1);
        step.yMm = at.at(1).toDouble(-1);
        const double z = properties.value(QStringLiteral("z_um")).toDouble();
        step.zUm = z > 0 ? z : std::numeric_limits<double>::quiet_NaN();
        step.mark = properties.value(QStringLiteral("name")).toString();
        if (!(step.xMm >= 0 && step.xMm <= Recipe::maxXMm && step.yMm >= 0 && step.yMm <= Recipe::maxYMm) ||
            !(std::isnan(step.zUm) || step.zUm <= Recipe::maxZUm))
            refuse(node, QStringLiteral("mark %1 of %2 lies outside the stage's travel")
                             .arg(gotos.size() + 1)
                             .arg(QFileInfo(path).fileName()));
        gotos.append(step);
    }
    if (gotos.isEmpty())
        refuse(node, QStringLiteral("the marks file %1 holds no point marks").arg(path));
    return gotos;
}

void readSteps(const YAML::Node& list, const QDir& base, QVector<RecipeStep>* steps, bool nested);

RecipeStep readStep(const YAML::Node& item, const QString& kind, const YAML::Node& value)
{
    RecipeStep step;
    step.line = lineOf(item);
    const QString what = QStringLiteral("\"%1\"").arg(kind);
    if (kind == QLatin1String("goto")) {
        step.kind = RecipeStep::Kind::Goto;
        checkKeys(value, what, {"x", "y", "z"}, {"x", "y"});
        step.xMm = number(value["x"], QStringLiteral("x (mm)"), 0, Recipe::maxXMm);
        step.yMm = number(value["y"], QStringLiteral("y (mm)"), 0, Recipe::maxYMm);
        step.zUm = value["z"] ? number(value["z"], QStringLiteral("z (µm)"), 0, Recipe::maxZUm)
                              : std::numeric_limits<double>::quiet_NaN();
    } else if (kind == QLatin1String("autofocus")) {
        step.kind = RecipeStep::Kind::Autofocus;
        const QString how = text(value, what);
        if (how != QLatin1String("quick") && how != QLatin1String("accurate"))
            refuse(value, QStringLiteral("autofocus is quick or accurate, not \"%1\"").arg(how));
        step.accurate = how == QLatin1String("accurate");
    } else if (kind == QLatin1String("picture")) {
        step.kind = RecipeStep::Kind::Picture;
        checkKeys(value, what, {"size", "format"});
        if (value["size"])
            step.size = integer(value["size"], QStringLiteral("size"), 1, 4);
        if (value["format"]) {
            step.format = text(value["format"], QStringLiteral("format"));
            if (!QStringList{"jpeg", "png", "ome-tiff"}.contains(step.format))
                refuse(value["format"], QStringLiteral("format is jpeg, png or ome-tiff, not \"%1\"").arg(step.format));
        }
    } else if (kind == QLatin1String("stack")) {
        step.kind = RecipeStep::Kind::Stack;
        checkKeys(value, what, {"planes", "range", "size", "fuse"});
        if (value["planes"])
            step.planes = integer(value["planes"], QStringLiteral("planes"), 3, 120);
        if (value["range"])
            step.rangeUm = integer(value["range"], QStringLiteral("range (µm)"), 1, 1000);
        if (value["size"])
            step.size = integer(value["size"], QStringLiteral("size"), 1, 4);
        if (value["fuse"])
            step.fuse = boolean(value["fuse"], QStringLiteral("fuse"));
    } else if (kind == QLatin1String("scan")) {
        step.kind = RecipeStep::Kind::Scan;
        checkKeys(value, what, {"from", "to", "overlap", "focus", "size"}, {"from", "to"});
        readRegion(value, QStringLiteral("scan"), &step);
        if (value["overlap"])
            step.overlapPercent = integer(value["overlap"], QStringLiteral("overlap (%)"), 5, 50);
        if (value["size"])
            step.size = integer(value["size"], QStringLiteral("size"), 1, 4);
        if (value["focus"]) {
            const QString focus = text(value["focus"], QStringLiteral("focus"));
            if (focus == QLatin1String("keep"))
                step.autofocusEvery = 0;
            else if (focus == QLatin1String("every-tile"))
                step.autofocusEvery = 1;
            else
                step.autofocusEvery =
                    integer(value["focus"], QStringLiteral("focus (keep, every-tile or every N tiles)"), 2, 100);
        }
    } else if (kind == QLatin1String("job")) {
        step.kind = RecipeStep::Kind::Job;
        checkKeys(value, what, {"name", "from", "to", "density"}, {"name", "from", "to"});
        step.jobName = text(value["name"], QStringLiteral("name"));
        if (step.jobName.isEmpty())
            refuse(value["name"], QStringLiteral("the job needs a name"));
        readRegion(value, QStringLiteral("job"), &step);
        if (value["density"])
            step.density = integer(value["density"], QStringLiteral("density (samples / mm)"), 1, 10);
    } else {
        refuse(item,
               QStringLiteral("unknown step \"%1\" (known: goto, goto_marks, autofocus, picture, stack, scan, job)")
                   .arg(kind));
    }
    return step;
}

void readSteps(const YAML::Node& list, const QDir& base, QVector<RecipeStep>* steps, bool nested)
{
    if (!list.IsSequence() || list.size() == 0)
        refuse(list, QStringLiteral("\"steps\" must be a list of one step or more"));
    for (const YAML::Node& item : list) {
        if (!item.IsMap() || item.size() != 1)
            refuse(item, QStringLiteral("each step is one \"kind: settings\" pair"));
        const QString kind = QString::fromStdString(item.begin()->first.Scalar());
        const YAML::Node value = item.begin()->second;
        if (kind != QLatin1String("goto_marks")) {
            steps->append(readStep(item, kind, value));
            continue;
        }
        if (nested)
            refuse(item, QStringLiteral("\"goto_marks\" cannot repeat inside \"goto_marks\""));
        checkKeys(value, QStringLiteral("\"goto_marks\""), {"file", "steps"}, {"file"});
        QVector<RecipeStep> here;
        if (value["steps"])
            readSteps(value["steps"], base, &here, true);
        const QString file = base.absoluteFilePath(text(value["file"], QStringLiteral("file")));
        for (const RecipeStep& mark : readMarks(value["file"], file, lineOf(item))) {
            steps->append(mark);
            steps->append(here);
        }
    }
}

} // namespace

QString RecipeStep::describe() const
{
    const QString region =
        QString::asprintf("(%.4f, %.4f) to (%.4f, %.4f) mm", fromMm.x(), fromMm.y(), toMm.x(), toMm.y());
    switch (kind) {
    case Kind::Goto:
        return QString::asprintf("goto x %.4f mm, y %.4f mm, ", xMm, yMm) +
               (std::isnan(zUm) ? QStringLiteral("z kept") : QString::asprintf("z %.1f µm", zUm)) +
               (mark.isEmpty() ? QString() : QStringLiteral(" (mark \"%1\")").arg(mark));
    case Kind::Autofocus:
        return accurate ? QStringLiteral("autofocus accurate") : QStringLiteral("autofocus quick");
    case Kind::Picture:
        return QStringLiteral("picture size %1 as %2").arg(size).arg(format);
    case Kind::Stack:
        return QStringLiteral("stack of %1 planes over %2 µm, size %3%4")
            .arg(planes)
            .arg(rangeUm)
            .arg(size)
            .arg(fuse ? QStringLiteral(", fused") : QString());
    case Kind::Scan:
        return QStringLiteral("scan %1, overlap %2 %, size %3, %4")
            .arg(region)
            .arg(overlapPercent)
            .arg(size)
            .arg(autofocusEvery == 0   ? QStringLiteral("focus kept")
                 : autofocusEvery == 1 ? QStringLiteral("autofocus every tile")
                                       : QStringLiteral("autofocus every %1 tiles").arg(autofocusEvery));
    case Kind::Job:
        return QStringLiteral("job \"%1\" over %2, %3 samples / mm").arg(jobName, region).arg(density);
    }
    return QString();
}

bool Recipe::parse(const QByteArray& text, const QString& path, Recipe* recipe, QString* error)
{
    const QDir base = QFileInfo(path).absoluteDir();
    Recipe read;
    read.text = text;
    try {
        const YAML::Node root = YAML::Load(text.toStdString());
        checkKeys(root, QStringLiteral("the recipe"), {"server", "microscope", "user", "slide", "output", "steps"},
                  {"server", "microscope", "user", "slide", "output", "steps"});
        read.server = ::text(root["server"], QStringLiteral("server"));
        read.microscope = ::text(root["microscope"], QStringLiteral("microscope"));
        read.user = ::text(root["user"], QStringLiteral("user"));
        read.slide = ::text(root["slide"], QStringLiteral("slide"));
        read.output = base.absoluteFilePath(::text(root["output"], QStringLiteral("output")));
        readSteps(root["steps"], base, &read.steps, false);
    } catch (const Refusal& refusal) {
        *error = QStringLiteral("%1:%2: %3").arg(path).arg(refusal.line).arg(refusal.reason);
        return false;
    } catch (const YAML::Exception& e) {
        *error = QStringLiteral("%1:%2: %3").arg(path).arg(e.mark.line + 1).arg(QString::fromStdString(e.msg));
        return false;
    }
    *recipe = read;
    return true;
}

namespace {

// Numbers as the reader takes them, whatever the desktop's locale.
std::string number(double value)
{
    return QString::number(value, 'g', 10).toStdString();
}

void writeCorner(YAML::Emitter& out, const char* key, const QPointF& mm)
{
    out << YAML::Key << key << YAML::Value << YAML::Flow << YAML::BeginMap << YAML::Key << "x" << YAML::Value
        << number(mm.x()) << YAML::Key << "y" << YAML::Value << number(mm.y()) << YAML::EndMap;
}

void writeStep(YAML::Emitter& out, const RecipeStep& step)
{
    out << YAML::BeginMap;
    switch (step.kind) {
    case RecipeStep::Kind::Goto:
        out << YAML::Key << "goto" << YAML::Value << YAML::Flow << YAML::BeginMap << YAML::Key << "x" << YAML::Value
            << number(step.xMm) << YAML::Key << "y" << YAML::Value << number(step.yMm);
        if (!std::isnan(step.zUm))
            out << YAML::Key << "z" << YAML::Value << number(step.zUm);
        out << YAML::EndMap;
        break;
    case RecipeStep::Kind::Autofocus:
        out << YAML::Key << "autofocus" << YAML::Value << (step.accurate ? "accurate" : "quick");
        break;
    case RecipeStep::Kind::Picture:
        out << YAML::Key << "picture" << YAML::Value << YAML::Flow << YAML::BeginMap << YAML::Key << "size"
            << YAML::Value << step.size << YAML::Key << "format" << YAML::Value << step.format.toStdString()
            << YAML::EndMap;
        break;
    case RecipeStep::Kind::Stack:
        out << YAML::Key << "stack" << YAML::Value << YAML::Flow << YAML::BeginMap << YAML::Key << "planes"
            << YAML::Value << step.planes << YAML::Key << "range" << YAML::Value << step.rangeUm << YAML::Key << "size"
            << YAML::Value << step.size << YAML::Key << "fuse" << YAML::Value << step.fuse << YAML::EndMap;
        break;
    case RecipeStep::Kind::Scan:
        out << YAML::Key << "scan" << YAML::Value << YAML::Flow << YAML::BeginMap;
        writeCorner(out, "from", step.fromMm);
        writeCorner(out, "to", step.toMm);
        out << YAML::Key << "overlap" << YAML::Value << step.overlapPercent << YAML::Key << "size" << YAML::Value
            << step.size << YAML::Key << "focus" << YAML::Value;
        if (step.autofocusEvery > 1)
            out << step.autofocusEvery;
        else
            out << (step.autofocusEvery == 1 ? "every-tile" : "keep");
        out << YAML::EndMap;
        break;
    case RecipeStep::Kind::Job:
        out << YAML::Key << "job" << YAML::Value << YAML::Flow << YAML::BeginMap << YAML::Key << "name" << YAML::Value
            << step.jobName.toStdString();
        writeCorner(out, "from", step.fromMm);
        writeCorner(out, "to", step.toMm);
        out << YAML::Key << "density" << YAML::Value << step.density << YAML::EndMap;
        break;
    }
    out << YAML::EndMap;
}

} // namespace

QByteArray Recipe::write() const
{
    YAML::Emitter out;
    out << YAML::BeginMap;
    for (const auto& [key, value] : {std::pair{"server", server}, std::pair{"microscope", microscope},
                                     std::pair{"user", user}, std::pair{"slide", slide}, std::pair{"output", output}})
        out << YAML::Key << key << YAML::Value << value.toStdString();
    out << YAML::Key << "steps" << YAML::Value << YAML::BeginSeq;
    for (const RecipeStep& step : steps)
        writeStep(out, step);
    out << YAML::EndSeq << YAML::EndMap;
    return QByteArray(out.c_str()) + '\n';
}

bool Recipe::load(const QString& path, Recipe* recipe, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return parse(file.read(1 << 20), path, recipe, error);
}

#include "peer/TreatmentPlot.h"

#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <cmath>

#include "peer/TreatmentStates.h"

using namespace QtCharts;

namespace {

enum class Kind {
    Measured, // a value as measured, joined point to point
    Held,     // a value that holds until the next one (a set point, a target)
    Limit,    // a held alarm limit
};

struct Line {
    const char *message;
    const char *field;
    const char *label;
    Kind kind;
    QRgb color;
};

struct Panel {
    const char *title;
    const char *unit;
    QVector<Line> lines;
};

const QVector<Panel> &panels()
{
    static const QVector<Panel> list = {
        {"Arterial pressure",
         "mmHg",
         {{"ID_TD_PRESSURE_DATA", "arterialMMHG", "arterial", Kind::Measured, 0xc0392b},
          {"ID_TD_PRESSURE_DATA", "arterialMinMMHG", "lower limit", Kind::Limit, 0x7f8c8d},
          {"ID_TD_PRESSURE_DATA", "arterialMaxMMHG", "upper limit", Kind::Limit, 0x34495e}}},
        {"Venous pressure",
         "mmHg",
         {{"ID_TD_PRESSURE_DATA", "venousMMHG", "venous", Kind::Measured, 0x2962ff},
          {"ID_TD_PRESSURE_DATA", "venousMinMMHG", "lower limit", Kind::Limit, 0x7f8c8d},
          {"ID_TD_PRESSURE_DATA", "venousMaxMMHG", "upper limit", Kind::Limit, 0x34495e}}},
        {"Transmembrane pressure (TMP)",
         "mmHg",
         {{"ID_TD_PRESSURE_DATA", "tmpMMHG", "TMP", Kind::Measured, 0x8e44ad},
          {"ID_TD_PRESSURE_DATA", "tmpMinMMHG", "lower limit", Kind::Limit, 0x7f8c8d},
          {"ID_TD_PRESSURE_DATA", "tmpMaxMMHG", "upper limit", Kind::Limit, 0x34495e}}},
        {"Flows",
         "mL/min",
         {{"ID_TD_TREATMENT_SET_POINTS", "bloodFlowMLPM", "blood", Kind::Held, 0xc0392b},
          {"ID_TD_TREATMENT_SET_POINTS", "dialysateFlowMLPM", "dialysate", Kind::Held, 0x16a085}}},
        {"Ultrafiltration",
         "L",
         {{"ID_TD_ULTRAFILTRATION_DATA", "ufRemovedL", "removed", Kind::Measured, 0xd68910},
          {"ID_TD_ULTRAFILTRATION_DATA", "ufVolumeL", "target", Kind::Held, 0x34495e}}},
    };
    return list;
}

constexpr int kWidth = 1600;
constexpr int kTitleHeight = 44;
constexpr int kPanelHeight = 210;
// Room for the labels of all the stages.
constexpr int kStatePanelHeight = 380;
constexpr int kMargin = 20;
// The same plot area in every chart, so that their time axes line up; the
// legend beside it.
constexpr qreal kLeft = 150;
constexpr qreal kRight = 210;
constexpr qreal kTop = 40;
constexpr qreal kBottom = 44;
constexpr int kValueTicks = 4;
constexpr int kMostDotted = 100;
const QRgb kChangeColor = 0x95a5a6;

// A held value as steps: it keeps its value until the next one, the last
// one until the end of the trace.
QVector<QPointF> stepped(const QVector<QPointF> &points, double endS)
{
    QVector<QPointF> steps;
    for (const QPointF &point : points) {
        if (!steps.isEmpty() && steps.last().y() != point.y())
            steps << QPointF(point.x(), steps.last().y());
        if (steps.isEmpty() || steps.last().y() != point.y())
            steps << point;
    }
    if (!steps.isEmpty())
        steps << QPointF(endS, steps.last().y());
    return steps;
}

// A step of about a part of the length, 1, 2 or 5 times a power of ten.
double tickInterval(double length, int parts)
{
    const double rough = length / parts;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * power >= rough)
            return factor * power;
    return 10.0 * power;
}

QValueAxis *timeAxis(double lengthS, bool titled)
{
    auto *axis = new QValueAxis;
    axis->setRange(0, qMax(lengthS, 1.0));
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(tickInterval(qMax(lengthS, 1.0), 10));
    axis->setLabelFormat(QStringLiteral("%g"));
    if (titled)
        axis->setTitleText(QStringLiteral("time (s)"));
    return axis;
}

QLineSeries *addLine(QChart &chart, const QString &name, const QVector<QPointF> &points, QPen pen, QAbstractAxis *x,
                     QAbstractAxis *y)
{
    auto *series = new QLineSeries;
    series->setName(name);
    series->replace(points);
    series->setPen(pen);
    chart.addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
    return series;
}

// Every change of stage as a vertical line from the bottom of the chart to
// its top, named once in the legend where asked to.
void markChanges(QChart &chart, const QVector<QPointF> &stages, double low, double high, QAbstractAxis *x,
                 QAbstractAxis *y, bool inLegend)
{
    for (int i = 1; i < stages.size(); ++i) {
        const double at = stages.at(i).x();
        QLineSeries *series = addLine(chart, QStringLiteral("state change"), {QPointF(at, low), QPointF(at, high)},
                                      QPen(QColor(kChangeColor), 1, Qt::DashLine), x, y);
        for (QLegendMarker *marker : chart.legend()->markers(series))
            marker->setVisible(inLegend && i == 1);
    }
}

QGraphicsSimpleTextItem *text(const QString &title, int pointSize, QPointF at)
{
    auto *item = new QGraphicsSimpleTextItem(title);
    QFont font = item->font();
    font.setPointSize(pointSize);
    font.setBold(true);
    item->setFont(font);
    item->setPos(at);
    return item;
}

// A chart of the given height at top, its title above the plot area, placed
// by hand so that the layout leaves the plot area where it is.
QChart *newChart(QGraphicsScene &scene, const QString &title, int top, int height)
{
    auto *chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setGeometry(QRectF(0, top, kWidth, height));
    chart->setPlotArea(QRectF(kLeft, kTop, kWidth - kLeft - kRight, height - kTop - kBottom));
    scene.addItem(chart);
    scene.addItem(text(title, 11, QPointF(kLeft, top + 12)));
    return chart;
}

// The legend beside the plot area, placed by hand like the title; once
// every series is in, since a detached legend lays its markers out only when
// it is placed.
void placeLegend(QChart &chart)
{
    QLegend *legend = chart.legend();
    legend->setAlignment(Qt::AlignRight);
    legend->detachFromChart();
    legend->setBackgroundVisible(false);
    const QRectF area = chart.plotArea();
    legend->setGeometry(QRectF(area.right() + 10, area.top(), kRight - 20, area.height()));
    legend->update();
}

void drawPanel(QGraphicsScene &scene, const Panel &panel, const TreatmentTrace &trace, int top)
{
    QChart *chart = newChart(scene, QString::fromLatin1(panel.title), top, kPanelHeight);
    QValueAxis *x = timeAxis(trace.lengthS(), false);
    auto *y = new QValueAxis;
    y->setTitleText(QString::fromLatin1(panel.unit));
    y->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);

    double low = qInf(), high = -qInf();
    for (const Line &line : panel.lines) {
        QVector<QPointF> points = trace.series({QString::fromLatin1(line.message), QString::fromLatin1(line.field)});
        if (line.kind != Kind::Measured)
            points = stepped(points, trace.lengthS());
        for (const QPointF &point : points) {
            low = qMin(low, point.y());
            high = qMax(high, point.y());
        }
        QPen pen(QColor(line.color), line.kind == Kind::Limit ? 1.5 : 2.0,
                 line.kind == Kind::Limit ? Qt::DashLine : Qt::SolidLine);
        QLineSeries *series = addLine(*chart, QString::fromLatin1(line.label), points, pen, x, y);
        // Sparse measurements (a short trace, a value sent once) as dots too.
        series->setPointsVisible(line.kind == Kind::Measured && points.size() < kMostDotted);
    }
    if (low > high)
        low = high = 0; // nothing of it in the trace
    // A few labelled ticks at round values: too many would not fit the
    // chart's height.
    const double step = tickInterval(high > low ? (high - low) * 1.1 : 2.0, kValueTicks);
    y->setRange(std::floor(low / step - 0.05) * step, std::ceil(high / step + 0.05) * step);
    y->setTickType(QValueAxis::TicksDynamic);
    y->setTickAnchor(0);
    y->setTickInterval(step);
    markChanges(*chart, trace.stages(), y->min(), y->max(), x, y, false);
    placeLegend(*chart);
}

void drawStages(QGraphicsScene &scene, const TreatmentTrace &trace, int top)
{
    QChart *chart = newChart(scene, QStringLiteral("Treatment state"), top, kStatePanelHeight);
    QValueAxis *x = timeAxis(trace.lengthS(), true);
    auto *y = new QCategoryAxis;
    const QStringList names = TreatmentStates::stageNames();
    y->setStartValue(-0.5);
    for (int i = 0; i < names.size(); ++i)
        y->append(names.at(i), i + 0.5);
    y->setRange(-0.5, names.size() - 0.5);
    y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    addLine(*chart, QStringLiteral("state"), stepped(trace.stages(), trace.lengthS()), QPen(QColor(0x2c3e50), 2.5), x,
            y);
    markChanges(*chart, trace.stages(), -0.5, names.size() - 0.5, x, y, true);
    placeLegend(*chart);
}

void draw(QGraphicsScene &scene, const TreatmentTrace &trace, const QString &title)
{
    scene.addItem(text(title, 14, QPointF(kMargin, 10)));
    int top = kTitleHeight;
    for (const Panel &panel : panels()) {
        drawPanel(scene, panel, trace, top);
        top += kPanelHeight;
    }
    drawStages(scene, trace, top);
    scene.setSceneRect(0, 0, kWidth, top + kStatePanelHeight + kMargin);
}

} // namespace

QList<TreatmentTrace::Quantity> TreatmentPlot::quantities()
{
    QList<TreatmentTrace::Quantity> list;
    for (const Panel &panel : panels())
        for (const Line &line : panel.lines)
            list.append({QString::fromLatin1(line.message), QString::fromLatin1(line.field)});
    return list;
}

bool TreatmentPlot::isKnownFormat(const QString &fileName)
{
    return fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ||
           fileName.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive);
}

bool TreatmentPlot::write(const TreatmentTrace &trace, const QString &title, const QString &fileName, QString &error)
{
    QGraphicsScene scene;
    scene.setBackgroundBrush(Qt::white);
    draw(scene, trace, title);
    // The charts lay themselves out on posted events.
    QApplication::processEvents();
    const QSize size = scene.sceneRect().size().toSize();

    if (fileName.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setFileName(fileName);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter painter;
        if (!painter.begin(&svg)) {
            error = QStringLiteral("cannot write %1").arg(fileName);
            return false;
        }
        scene.render(&painter);
        return painter.end();
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter);
    painter.end();
    if (!image.save(fileName, "PNG")) {
        error = QStringLiteral("cannot write %1").arg(fileName);
        return false;
    }
    return true;
}

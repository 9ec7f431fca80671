#include "app/CompanionPopover.hpp"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTextLayout>
#include <QVBoxLayout>

namespace qb::app {

const QColor CompanionPopover::background = QColor::fromRgbF(0.039f, 0.039f, 0.039f);
const QColor CompanionPopover::cyan = QColor::fromRgbF(0.506f, 0.91f, 0.961f);
const QColor CompanionPopover::magenta = QColor::fromRgbF(1.0f, 0.4f, 0.561f);

namespace {

constexpr int contentWidth = CompanionPopover::width - 2 * CompanionPopover::inset;

QColor white(double opacity) {
    return QColor::fromRgbF(1, 1, 1, static_cast<float>(opacity));
}

// Sizes are points, as the layout is given: one point is one device-independent pixel.
QFont pointFont(int points, QFont::Weight weight = QFont::Normal, double letterSpacing = 0) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(points);
    f.setWeight(weight);
    if (letterSpacing > 0) f.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
    return f;
}

QLabel* label(const QString& text, const QFont& f, const QColor& colour) {
    auto* l = new QLabel(text);
    l->setFont(f);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, colour);
    l->setPalette(palette);
    l->setTextFormat(Qt::PlainText);
    return l;
}

// One line, shortened with an ellipsis where `mode` says.
QLabel* oneLine(const std::string& text, const QFont& f, const QColor& colour, int width,
                Qt::TextElideMode mode = Qt::ElideRight) {
    const QString full = QString::fromStdString(text);
    QLabel* l = label(QFontMetrics(f).elidedText(full, mode, width), f, colour);
    if (l->text() != full) l->setToolTip(full);
    return l;
}

// Wrapped to at most `lines` lines, the last one shortened.
QLabel* lines(const std::string& text, const QFont& f, const QColor& colour, int width, int lines) {
    const QString full = QString::fromStdString(text);
    QTextLayout layout(full, f);
    layout.beginLayout();
    QStringList kept;
    for (int i = 0; i < lines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        const QString part = full.mid(line.textStart(), i == lines - 1 ? -1 : line.textLength());
        kept << (i == lines - 1 ? QFontMetrics(f).elidedText(part.trimmed(), Qt::ElideRight, width)
                                : part.trimmed());
    }
    layout.endLayout();
    return label(kept.join('\n'), f, colour);
}

// A filled circle: the chip's dot.
class Dot : public QWidget {
  public:
    Dot(const QColor& colour, int diameter) : colour_(colour) { setFixedSize(diameter, diameter); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(colour_);
        p.drawEllipse(QRectF(rect()));
    }

  private:
    QColor colour_;
};

// A thin rule across the panel.
class Divider : public QWidget {
  public:
    Divider() { setFixedHeight(1); }

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), white(0.08)); }
};

// A check mark cut out of a filled circle.
class CheckSymbol : public QWidget {
  public:
    explicit CheckSymbol(int size) { setFixedSize(size, size); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r(rect());
        QPainterPath circle;
        circle.addEllipse(r);
        QPainterPath check;
        check.moveTo(r.left() + r.width() * 0.28, r.top() + r.height() * 0.52);
        check.lineTo(r.left() + r.width() * 0.44, r.top() + r.height() * 0.68);
        check.lineTo(r.left() + r.width() * 0.72, r.top() + r.height() * 0.34);
        QPainterPathStroker stroker;
        stroker.setWidth(r.width() * 0.14);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        p.fillPath(circle.subtracted(stroker.createStroke(check)), CompanionPopover::cyan);
    }
};

// The footer's settings button: three dots in a circle.
class EllipsisButton : public QAbstractButton {
  public:
    explicit EllipsisButton(int size) {
        setFixedSize(size, size);
        setCursor(Qt::PointingHandCursor);
        setToolTip("Settings & diagnostics");
        setAccessibleName("Settings & diagnostics");
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor colour = white(0.45);
        const QRectF r = QRectF(rect()).adjusted(0.6, 0.6, -0.6, -0.6);
        p.setPen(QPen(colour, 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(r);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        const double dot = r.width() * 0.14;
        for (double dx : {-0.25, 0.0, 0.25})
            p.drawEllipse(QPointF(r.center().x() + dx * r.width(), r.center().y()), dot / 2 + 0.3,
                          dot / 2 + 0.3);
    }
};

// A plain, borderless text button.
class TextButton : public QAbstractButton {
  public:
    TextButton(const QString& text, const QFont& f, const QColor& colour) : colour_(colour) {
        setText(text);
        setFont(f);
        setCursor(Qt::PointingHandCursor);
        setFixedSize(QFontMetrics(f).size(Qt::TextSingleLine, text));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(font());
        p.setPen(isDown() ? colour_.darker(130) : colour_);
        p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

  private:
    QColor colour_;
};

QColor chipColour(CompanionPresentation::ChipColour colour) {
    switch (colour) {
    case CompanionPresentation::ChipColour::cyan:
        return CompanionPopover::cyan;
    case CompanionPresentation::ChipColour::magenta:
        return CompanionPopover::magenta;
    case CompanionPresentation::ChipColour::dimWhite:
        return white(0.45);
    }
    return CompanionPopover::magenta;
}

QHBoxLayout* row(int spacing) {
    auto* r = new QHBoxLayout;
    r->setContentsMargins(0, 0, 0, 0);
    r->setSpacing(spacing);
    return r;
}

QVBoxLayout* stack(int spacing) {
    auto* s = new QVBoxLayout;
    s->setContentsMargins(0, 0, 0, 0);
    s->setSpacing(spacing);
    return s;
}

} // namespace

CompanionPopover::CompanionPopover() {
    setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    setWindowTitle("Quillabrenta for Mac");
    setAttribute(Qt::WA_TranslucentBackground, false);
    setFixedWidth(width);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    rebuild();
}

void CompanionPopover::present(const CompanionPresentation& presentation) {
    if (presentation == presentation_ && content_) return;
    presentation_ = presentation;
    rebuild();
}

void CompanionPopover::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), background);
}

void CompanionPopover::rebuild() {
    delete content_;
    content_ = new QWidget;
    content_->setFixedWidth(width);
    auto* column = stack(rowSpacing);
    column->setContentsMargins(inset, inset, inset, inset);
    content_->setLayout(column);
    const CompanionPresentation& p = presentation_;

    auto* header = row(0);
    header->addWidget(label("QUILLABRENTA", pointFont(11, QFont::DemiBold, 1.6), white(0.5)));
    header->addStretch(1);
    auto* chip = row(5);
    chip->addWidget(new Dot(chipColour(p.chipColour), 6), 0, Qt::AlignVCenter);
    chip->addWidget(
        label(QString::fromStdString(p.chipLabel), pointFont(10, QFont::Medium), white(0.55)));
    header->addLayout(chip);
    column->addLayout(header);
    column->addWidget(new Divider);

    switch (p.hero) {
    case CompanionPresentation::Hero::playing: {
        auto* hero = stack(4);
        hero->addWidget(lines(p.title, pointFont(18, QFont::DemiBold), white(1), contentWidth, 2));
        hero->addWidget(oneLine(p.subtitle, pointFont(13), white(0.6), contentWidth));
        if (p.paused) hero->addWidget(label("Paused", pointFont(11, QFont::Medium), white(0.4)));
        column->addLayout(hero);
        break;
    }
    case CompanionPresentation::Hero::idle: {
        auto* hero = stack(4);
        hero->addWidget(label("Waiting for music", pointFont(16, QFont::Medium), white(0.75)));
        hero->addWidget(label("Listening Capture is active", pointFont(12), white(0.4)));
        column->addLayout(hero);
        break;
    }
    case CompanionPresentation::Hero::signedOut: {
        auto* hero = stack(10);
        hero->addWidget(label("Sign in required", pointFont(16, QFont::Medium), white(0.75)));
        auto* connect = new TextButton("Connect account", pointFont(12, QFont::DemiBold), cyan);
        QObject::connect(connect, &QAbstractButton::clicked, this, [this] {
            if (onConnect_) onConnect_();
        });
        hero->addWidget(connect, 0, Qt::AlignLeft);
        column->addLayout(hero);
        break;
    }
    }

    if (!p.ranks.empty()) {
        auto* ranks = row(18);
        for (const auto& rank : p.ranks) {
            auto* r = stack(2);
            r->addWidget(label(QString::fromStdString(rank.label), pointFont(9, QFont::DemiBold, 1),
                               white(0.4)));
            r->addWidget(
                label(QString::fromStdString(rank.value), pointFont(15, QFont::DemiBold), cyan));
            ranks->addLayout(r);
        }
        ranks->addStretch(1);
        column->addLayout(ranks);
    }

    if (p.receipt) {
        auto* receipt = row(6);
        receipt->addWidget(new CheckSymbol(11), 0, Qt::AlignVCenter);
        receipt->addWidget(
            oneLine(*p.receipt, pointFont(11, QFont::Medium), white(0.65), contentWidth - 11 - 6));
        receipt->addStretch(1);
        column->addLayout(receipt);
    }

    column->addSpacing(2);
    auto* footer = row(8);
    if (!p.accountEmail.empty())
        footer->addWidget(oneLine(p.accountEmail, pointFont(10), white(0.35), contentWidth - 14 - 8,
                                  Qt::ElideMiddle));
    footer->addStretch(1);
    auto* settings = new EllipsisButton(14);
    QObject::connect(settings, &QAbstractButton::clicked, this, [this] {
        if (onShowMenu_) onShowMenu_();
    });
    footer->addWidget(settings, 0, Qt::AlignVCenter);
    column->addLayout(footer);

    layout()->addWidget(content_);
    adjustSize();
}

void CompanionPopover::popUp(const QRect& anchor) {
    setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    adjustSize();
    QScreen* screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    QPoint at(area.right() - width - 8, area.top() + 8);
    if (anchor.isValid()) {
        at = QPoint(anchor.center().x() - width / 2, anchor.bottom() + 4);
        // A panel at the bottom of the screen: open upwards.
        if (at.y() + height() > area.bottom()) at.setY(anchor.top() - height() - 4);
        at.setX(std::clamp(at.x(), area.left(), area.right() - width));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    }
    move(at);
    show();
    raise();
    activateWindow();
}

void CompanionPopover::showAsWindow() {
    setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint);
    adjustSize();
    show();
    raise();
    activateWindow();
}

} // namespace qb::app

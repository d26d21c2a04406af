#include "ZTProgressBar.h"

#include <algorithm>
#include <string>

namespace {
constexpr int barWidth = 30;
constexpr qint64 secondsPerMinute = 60;
constexpr qint64 secondsPerHour = 3600;
} // namespace

ZTProgressBar::ZTProgressBar(std::FILE* stream, int total, bool enabled)
    : m_stream(stream)
    , m_total(std::max(1, total))
    , m_enabled(enabled)
{
    m_timer.start();
}

ZTProgressBar::~ZTProgressBar()
{
    clear();
}

QString ZTProgressBar::etaText(qint64 elapsedMs, int done, int total)
{
    if (done <= 0 || done >= total || elapsedMs < 0) {
        return QString();
    }
    // Rounded up: the bar never promises less time than the pace gives.
    const qint64 leftMs = (elapsedMs * (total - done) + done - 1) / done;
    const qint64 seconds = (leftMs + 999) / 1000;
    const auto twoDigits
        = [](qint64 value) { return QString::number(value).rightJustified(2, QLatin1Char('0')); };
    if (seconds < secondsPerHour) {
        return QStringLiteral("ETA %1:%2")
            .arg(seconds / secondsPerMinute)
            .arg(twoDigits(seconds % secondsPerMinute));
    }
    return QStringLiteral("ETA %1:%2:%3")
        .arg(seconds / secondsPerHour)
        .arg(twoDigits(seconds % secondsPerHour / secondsPerMinute))
        .arg(twoDigits(seconds % secondsPerMinute));
}

void ZTProgressBar::update(int done)
{
    if (!m_enabled) {
        return;
    }
    done = std::clamp(done, 0, m_total);
    m_done = done;
    const int filled = int(qint64(done) * barWidth / m_total);
    const std::string bar
        = std::string(size_t(filled), '#') + std::string(size_t(barWidth - filled), '.');
    const QString eta = etaText(m_timer.elapsed(), done, m_total);
    std::fprintf(m_stream, "\r[%s] %d/%d%s%s", bar.c_str(), done, m_total,
        eta.isEmpty() ? "" : "  ", eta.toLatin1().constData());
    // The line may have been longer before (a longer ETA): erase what is left of it.
    std::fputs("\033[K", m_stream);
    std::fflush(m_stream);
    m_shown = true;
}

void ZTProgressBar::redraw()
{
    if (m_enabled && !m_shown && m_done >= 0) {
        update(m_done);
    }
}

void ZTProgressBar::clear()
{
    if (m_enabled && m_shown) {
        // Carriage return, then erase to the end of the line.
        std::fputs("\r\033[K", m_stream);
        std::fflush(m_stream);
        m_shown = false;
    }
}

#include "ZTProgressBar.h"

#include <algorithm>
#include <string>

#include <QtGlobal>

namespace {
constexpr int barWidth = 30;
}

ZTProgressBar::ZTProgressBar(std::FILE* stream, int total, bool enabled)
    : m_stream(stream)
    , m_total(std::max(1, total))
    , m_enabled(enabled)
{}

ZTProgressBar::~ZTProgressBar()
{
    clear();
}

void ZTProgressBar::update(int done)
{
    if (!m_enabled) {
        return;
    }
    done = std::clamp(done, 0, m_total);
    const int filled = int(qint64(done) * barWidth / m_total);
    const std::string bar
        = std::string(size_t(filled), '#') + std::string(size_t(barWidth - filled), '.');
    std::fprintf(m_stream, "\r[%s] %d/%d", bar.c_str(), done, m_total);
    std::fflush(m_stream);
    m_shown = true;
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

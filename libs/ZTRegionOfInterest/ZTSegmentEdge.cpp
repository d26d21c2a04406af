#include "ZTSegmentEdge.h"

ZTSegmentEdge::ZTSegmentEdge()
    : ZTSegmentEdge(0, 0, 0.0)
{}

ZTSegmentEdge::ZTSegmentEdge(int from, int to, double weight)
    : m_from(from)
    , m_to(to)
    , m_weight(weight)
{}

ZTSegmentEdge::~ZTSegmentEdge() = default;

int ZTSegmentEdge::from()
{
    return m_from;
}

int ZTSegmentEdge::to()
{
    return m_to;
}

double ZTSegmentEdge::weight()
{
    return m_weight;
}

bool ZTSegmentEdge::operator<(const ZTSegmentEdge& other) const
{
    return m_weight < other.m_weight;
}

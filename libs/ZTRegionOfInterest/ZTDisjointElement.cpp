#include "ZTDisjointElement.h"

ZTDisjointElement::ZTDisjointElement()
    : ZTDisjointElement(0, 0, 0)
{}

ZTDisjointElement::ZTDisjointElement(int rank, int size, int parent)
    : rank(rank)
    , size(size)
    , parent(parent)
{}

ZTDisjointElement::~ZTDisjointElement() = default;

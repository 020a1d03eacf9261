#include "query/SPTexts.h"

#include "engine/values/FieldTypeNames.h"

namespace vemo::query {

QString directionText(engine::ProcParam::Direction direction)
{
    using D = engine::ProcParam::Direction;
    switch (direction) {
    case D::Input: return QStringLiteral("IN");
    case D::Output: return QStringLiteral("OUT");
    case D::InputOutput: return QStringLiteral("IN/OUT");
    case D::Result: return QString();
    }
    return QString();
}

QString procTypeText(int typeCode)
{
    const engine::FieldTypeName* n = engine::fieldTypeName(typeCode);
    return n ? QString::fromUtf8(n->description) : QString();
}

} // namespace vemo::query

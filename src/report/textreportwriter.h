/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_TEXTREPORTWRITER_H
#define MASSIF_TEXTREPORTWRITER_H

#include "reportwriter.h"

namespace Massif {

/// The report for a terminal or a log: aligned columns, the tree drawn with lines.
class TextReportWriter : public ReportWriter
{
public:
    QByteArray write(const Report &report) const override;
};

} // namespace Massif

#endif

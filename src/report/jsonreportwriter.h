/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_JSONREPORTWRITER_H
#define MASSIF_JSONREPORTWRITER_H

#include "reportwriter.h"

namespace Massif {

/// The report for programs; docs/report-format.md describes it. Sizes are exact byte counts.
class JsonReportWriter : public ReportWriter
{
public:
    QByteArray write(const Report &report) const override;
};

} // namespace Massif

#endif

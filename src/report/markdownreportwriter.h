/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef MASSIF_MARKDOWNREPORTWRITER_H
#define MASSIF_MARKDOWNREPORTWRITER_H

#include "reportwriter.h"

namespace Massif {

/// The report as Markdown, for CI summaries and issues: tables, the tree in a code block.
class MarkdownReportWriter : public ReportWriter
{
public:
    QByteArray write(const Report &report) const override;

private:
    static QString sitesTable(const Report &report);
    static QString siteChangesTable(const Report &report);
};

} // namespace Massif

#endif

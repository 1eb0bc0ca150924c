/*
    SPDX-FileCopyrightText: 2026 Quillmap developers
    SPDX-License-Identifier: GPL-2.0-or-later
*/

#ifndef GRAPHVIEWER_GRAPHPANNER_H
#define GRAPHVIEWER_GRAPHPANNER_H

#include <QPixmap>
#include <QWidget>

class QGraphicsView;

namespace GraphViewer {

/**
 * The overview of the whole graph with the part the view shows; a click or
 * a drag moves the view there.
 */
class GraphPanner : public QWidget
{
    Q_OBJECT
public:
    explicit GraphPanner(QGraphicsView *view, QWidget *parent = nullptr);

    /// Draws the scene anew, after it changed.
    void updatePicture();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QRectF pictureRect() const;
    void moveViewTo(const QPointF &position);

    QGraphicsView *view;
    QPixmap picture;
};

} // namespace GraphViewer

#endif

#pragma once

#include <QImage>
#include <QString>
#include <QVector>

// One file of the library: its name inside its folder and its picture.
struct NamedImage
{
    QString fileName;
    QImage image;
};

using NamedImages = QVector<NamedImage>;

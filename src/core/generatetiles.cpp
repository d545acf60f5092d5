#include "generatetiles.h"

generateTiles::generateTiles(QObject *parent) : QObject(parent) {}

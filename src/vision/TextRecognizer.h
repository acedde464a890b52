#pragma once

#include "vision/NormalizedRect.h"

#include <QImage>
#include <QString>

#include <vector>

// Text lines of an image, read by the Tesseract engine with its English model.
class TextRecognizer
{
public:
    struct Line
    {
        QString text;
        // 0...1.
        double confidence = 0;
        NormalizedRect bounds;
    };

    TextRecognizer() = delete;

    // `grey` is Format_Grayscale8. Fast recognition reads without dictionary correction, accurate
    // recognition with it. Lines lower than minimumTextHeight (a fraction of the image height) are
    // left out. Throws HubError when the engine or its data cannot be loaded.
    static std::vector<Line> recognize(const QImage &grey, bool fast, double minimumTextHeight);

    // The engine's version as the loaded library reports it, e.g. "5.3.0".
    static QString engineVersion();

    // The folder holding "eng.traineddata": TESSDATA_PREFIX when it holds the file, else the
    // distribution's location. Throws HubError with a sentence naming what to install.
    static QString tessdataPath();
};

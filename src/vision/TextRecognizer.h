#pragma once

#include "vision/NormalizedRect.h"

#include <QImage>
#include <QString>

#include <chrono>
#include <vector>

// Text lines of an image, read by the Tesseract engine with its English model.
//
// What the engine sees is prepared for it: text of any colour on any background reaches it as dark
// text on a white page (see TextRecognizer.cpp), and accurate recognition reads screens of ordinary
// density at twice their size. Boxes are always in the coordinates of the image given.
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

    // Recognition that has not finished this long after it started is stopped.
    static constexpr std::chrono::seconds kDeadline{45};
    // Screens whose longer side is at most this many pixels are of ordinary density (one image
    // pixel per point); larger ones are taken for high-density screens, whose text is twice as
    // large in pixels.
    static constexpr int kOrdinaryDensityMaxSide = 2000;

    TextRecognizer() = delete;

    // `grey` is Format_Grayscale8. Fast recognition reads without dictionary correction, accurate
    // recognition with it and at twice the size on screens of ordinary density. Lines lower than
    // minimumTextHeight (a fraction of the image height) are left out. Throws HubError when the
    // engine or its data cannot be loaded, and deadlineSentence() when recognition is still running
    // at `deadline`.
    static std::vector<Line> recognize(const QImage &grey, bool fast, double minimumTextHeight,
                                       std::chrono::milliseconds deadline = kDeadline);

    static QString deadlineSentence(std::chrono::milliseconds deadline);

    // The engine's version as the loaded library reports it, e.g. "5.3.0".
    static QString engineVersion();

    // The folder holding "eng.traineddata": TESSDATA_PREFIX when it holds the file, else the
    // distribution's location. Throws HubError with a sentence naming what to install.
    static QString tessdataPath();
};

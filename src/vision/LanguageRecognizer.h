#pragma once

#include <QString>

#include <optional>

// The dominant language of a text and its probability, from the compact language detector.
class LanguageRecognizer
{
public:
    struct Guess
    {
        // Identifier such as "en"; absent when the detector names no language.
        std::optional<QString> identifier;
        // Share of the text in the dominant language (0...1) when that language is among the
        // detector's two top hypotheses; 0 otherwise.
        double probability = 0;
    };

    LanguageRecognizer() = delete;

    static Guess dominant(const QString &text);
};

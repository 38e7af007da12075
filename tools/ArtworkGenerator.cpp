/*  Draws the page backgrounds and button images of Zembrik Authorizer and writes them as PNG files.

    ArtworkGenerator <output folder>
        writes every image the application loads.
    ArtworkGenerator --compose <image folder> <preview folder>
        lays the buttons over the backgrounds at window size, as the application shows them.
    ArtworkGenerator --measure <image folder>
        prints the size of each file and how long the framework takes to decode it.

    Everything is drawn in window coordinates (450 x 600) and rendered at twice that resolution,
    because the application halves the backgrounds when it loads them and scales the buttons down
    to their bounds. Flat shapes and smooth gradients keep the files small and quick to decode.
*/

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <vector>

namespace
{
    constexpr float renderScale = 2.0f;
    constexpr int windowWidth = 450;
    constexpr int windowHeight = 600;

    // Where the application puts its buttons; nothing of the backgrounds may run under them.
    const juce::Rectangle<int> signInBounds   { 85, 490, 280, 56 };
    const juce::Rectangle<int> questionBounds { 374, 508, 19, 19 };
    const juce::Rectangle<int> retryBounds    { 98, 493, 100, 50 };
    const juce::Rectangle<int> helpBounds     { 253, 493, 100, 50 };

    const juce::String latinFamily   { "Inter" };
    const juce::String displayFamily { "Inter Display" };
    const juce::String japaneseFamily { "IPAGothic" };

    enum class Language { english, japanese };

    juce::String suffix (Language language)
    {
        return language == Language::japanese ? "JP" : "EN";
    }

    //==============================================================================================
    // Colours

    struct Theme
    {
        juce::String editionWord;   // after "Zembrik" in the wordmark; empty for the common form
        juce::Colour heroTop, heroBottom, markTop, markBottom;
    };

    const Theme commonTheme  { {},        juce::Colour (0xff3f7cf4), juce::Colour (0xff2146c4),
                                          juce::Colour (0xff4c8bff), juce::Colour (0xff2447c9) };
    const Theme teshTheme    { "Tesh",    juce::Colour (0xff1aa6c9), juce::Colour (0xff1b5bbd),
                                          juce::Colour (0xff20b3d3), juce::Colour (0xff1d5cc0) };
    const Theme plundarTheme { "Plundar", juce::Colour (0xff6d5df0), juce::Colour (0xff3337b8),
                                          juce::Colour (0xff7a6bff), juce::Colour (0xff3a3cc0) };

    const juce::Colour pageColour       { 0xffffffff };
    const juce::Colour titleColour      { 0xff18202c };
    const juce::Colour bodyColour       { 0xff566173 };
    const juce::Colour footerColour     { 0xffa3abb8 };
    const juce::Colour primaryTop       { 0xff3d7bf6 };
    const juce::Colour primaryBottom    { 0xff2a5ee0 };
    const juce::Colour primaryEdge      { 0xff2251c9 };
    const juce::Colour secondaryText    { 0xff2757d6 };
    const juce::Colour secondaryEdge    { 0xffc9d3e4 };
    const juce::Colour successColour    { 0xff22a55b };
    const juce::Colour warningColour    { 0xffe8833a };

    //==============================================================================================
    // Text. Latin runs are set in Inter, Japanese runs in IPAGothic, on one shared baseline, so a
    // Japanese sentence can carry the product names in the same face as the English pages.

    struct TextStyle
    {
        float points;
        juce::String weight = "Regular";
        bool display = false;          // Inter Display: the optical size for headlines
        float tracking = 0.0f;         // extra space between letters, as a fraction of the height
        float japaneseStroke = 0.0f;   // IPAGothic has one weight; a thin outline thickens it
    };

    struct Span
    {
        juce::String text;
        TextStyle style;
    };

    using Line = std::vector<Span>;

    bool isJapaneseCharacter (juce::juce_wchar c)
    {
        return c >= 0x2e80;
    }

    juce::Font fontFor (const TextStyle& style, bool japanese)
    {
        if (japanese)
            return juce::Font (japaneseFamily, "Regular", 10.0f).withPointHeight (style.points * 0.96f);

        return juce::Font (style.display ? displayFamily : latinFamily, style.weight, 10.0f)
                   .withPointHeight (style.points)
                   .withExtraKerningFactor (style.tracking);
    }

    /** Glyphs of one line, Latin and Japanese kept apart so that only the latter get the stroke. */
    struct SetLine
    {
        juce::GlyphArrangement latin, japanese;
        float japaneseStroke = 0.0f;
        float width = 0.0f;
    };

    SetLine setLine (const Line& line, float x, float baseline)
    {
        SetLine result;
        auto cursor = x;
        auto previousJapanese = std::optional<bool>();

        for (const auto& span : line)
        {
            auto text = span.text.getCharPointer();

            while (! text.isEmpty())
            {
                const auto japanese = isJapaneseCharacter (*text);
                auto end = text;

                while (! end.isEmpty() && isJapaneseCharacter (*end) == japanese)
                    ++end;

                const juce::String run (text, end);
                const auto font = fontFor (span.style, japanese);

                // A little air where Latin meets Japanese, as Japanese typesetting puts there.
                if (previousJapanese.has_value() && *previousJapanese != japanese
                    && ! run.startsWithChar (' ') && ! run.startsWithChar (0x3001) && ! run.startsWithChar (0x3002))
                    cursor += span.style.points * 0.18f;

                previousJapanese = japanese;
                (japanese ? result.japanese : result.latin).addLineOfText (font, run, cursor, baseline);
                cursor += font.getStringWidthFloat (run);

                if (japanese)
                    result.japaneseStroke = juce::jmax (result.japaneseStroke, span.style.japaneseStroke);

                text = end;
            }
        }

        result.width = cursor - x;
        return result;
    }

    float lineWidth (const Line& line)
    {
        return setLine (line, 0.0f, 0.0f).width;
    }

    void drawSetLine (juce::Graphics& g, const SetLine& set, juce::Colour colour)
    {
        g.setColour (colour);
        set.latin.draw (g);
        set.japanese.draw (g);

        if (set.japaneseStroke > 0.0f)
        {
            juce::Path outline;
            set.japanese.createPath (outline);
            g.strokePath (outline, juce::PathStrokeType (set.japaneseStroke, juce::PathStrokeType::curved,
                                                         juce::PathStrokeType::rounded));
        }
    }

    /** What would spoil a page (text that does not fit, a drawing under a button) is collected
        here and fails the run, so no such file gets written. */
    juce::StringArray artworkProblems;

    void checkFits (const Line& line, float width, float available)
    {
        if (width <= available)
            return;

        juce::String text;

        for (const auto& span : line)
            text << span.text;

        artworkProblems.add ("text does not fit: \"" + text + "\" is " + juce::String (width, 1) + " wide, "
                            + juce::String (available, 1) + " available");
    }

    void drawCentredLine (juce::Graphics& g, const Line& line, float centreX, float baseline,
                          float available, juce::Colour colour)
    {
        const auto width = lineWidth (line);
        checkFits (line, width, available);
        drawSetLine (g, setLine (line, centreX - width * 0.5f, baseline), colour);
    }

    /** Baseline that centres a line's capital letters (or its kana and kanji) on centreY. */
    float baselineCentring (const Line& line, float centreY)
    {
        auto anyJapanese = false;

        for (const auto& span : line)
            for (auto c : span.text)
                anyJapanese = anyJapanese || isJapaneseCharacter (c);

        const auto& style = line.front().style;
        const auto reference = setLine ({ { anyJapanese ? juce::String (juce::CharPointer_UTF8 ("国")) : "H",
                                            style } }, 0.0f, 0.0f);
        const auto bounds = (anyJapanese ? reference.japanese : reference.latin).getBoundingBox (0, -1, true);
        return centreY - bounds.getCentreY();
    }

    juce::String utf8 (const char* text)
    {
        return juce::String (juce::CharPointer_UTF8 (text));
    }

    //==============================================================================================
    // Shapes

    juce::Image makeCanvas (int width, int height, bool opaque)
    {
        return juce::Image (opaque ? juce::Image::RGB : juce::Image::ARGB,
                            juce::roundToInt ((float) width * renderScale),
                            juce::roundToInt ((float) height * renderScale), true);
    }

    /** The product mark: a rounded tile holding a "Z" drawn as one continuous stroke. */
    void drawProductMark (juce::Graphics& g, juce::Rectangle<float> tile, const Theme& theme)
    {
        juce::Path tileShape;
        tileShape.addRoundedRectangle (tile, tile.getWidth() * 0.24f);

        // The shadow is rendered at window resolution; blurred, it needs no more.
        juce::DropShadow (juce::Colour (0x3a0b1a4a), 18, { 0, 7 }).drawForPath (g, tileShape);

        g.setColour (juce::Colours::white);
        g.fillPath (tileShape);

        const auto c = tile.getCentre();
        const auto s = tile.getWidth() * 0.21f;
        juce::Path zed;
        zed.startNewSubPath (c.x - s, c.y - s * 0.86f);
        zed.lineTo (c.x + s, c.y - s * 0.86f);
        zed.lineTo (c.x - s, c.y + s * 0.86f);
        zed.lineTo (c.x + s, c.y + s * 0.86f);

        g.setGradientFill (juce::ColourGradient (theme.markTop, tile.getX(), tile.getY(),
                                                 theme.markBottom, tile.getRight(), tile.getBottom(), false));
        g.strokePath (zed, juce::PathStrokeType (tile.getWidth() * 0.115f, juce::PathStrokeType::curved,
                                                 juce::PathStrokeType::rounded));
    }

    enum class Badge { none, success, warning };

    /** A small round sign on the mark's corner: a tick for success, an exclamation mark for failure. */
    void drawBadge (juce::Graphics& g, juce::Point<float> centre, Badge badge)
    {
        if (badge == Badge::none)
            return;

        constexpr auto radius = 15.0f;
        g.setColour (juce::Colours::white);
        g.fillEllipse (juce::Rectangle<float> (radius * 2.0f + 6.0f, radius * 2.0f + 6.0f).withCentre (centre));
        g.setColour (badge == Badge::success ? successColour : warningColour);
        g.fillEllipse (juce::Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre));

        g.setColour (juce::Colours::white);
        const juce::PathStrokeType stroke (3.4f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);

        if (badge == Badge::success)
        {
            juce::Path tick;
            tick.startNewSubPath (centre.translated (-6.5f, 0.5f));
            tick.lineTo (centre.translated (-2.0f, 5.0f));
            tick.lineTo (centre.translated (6.5f, -4.5f));
            g.strokePath (tick, stroke);
        }
        else
        {
            juce::Path bar;
            bar.startNewSubPath (centre.translated (0.0f, -6.5f));
            bar.lineTo (centre.translated (0.0f, 2.0f));
            g.strokePath (bar, stroke);
            g.fillEllipse (juce::Rectangle<float> (4.0f, 4.0f).withCentre (centre.translated (0.0f, 7.0f)));
        }
    }

    //==============================================================================================
    // Pages

    struct PageContent
    {
        juce::String title;
        juce::StringArray body;
        Badge badge = Badge::none;
        std::vector<juce::Rectangle<int>> buttons;
    };

    constexpr float heroHeight = 236.0f;
    constexpr float textMargin = 36.0f;

    void drawHero (juce::Graphics& g, const Theme& theme, Badge badge)
    {
        juce::Path hero;
        hero.startNewSubPath (0.0f, 0.0f);
        hero.lineTo ((float) windowWidth, 0.0f);
        hero.lineTo ((float) windowWidth, heroHeight - 26.0f);
        hero.cubicTo ((float) windowWidth * 0.70f, heroHeight + 4.0f,
                      (float) windowWidth * 0.32f, heroHeight - 6.0f,
                      0.0f, heroHeight);
        hero.closeSubPath();

        // A lighter wave behind the edge gives the curve a layered look.
        juce::Path wave;
        wave.startNewSubPath (0.0f, 0.0f);
        wave.lineTo ((float) windowWidth, 0.0f);
        wave.lineTo ((float) windowWidth, heroHeight - 6.0f);
        wave.cubicTo ((float) windowWidth * 0.66f, heroHeight + 8.0f,
                      (float) windowWidth * 0.26f, heroHeight - 30.0f,
                      0.0f, heroHeight - 18.0f);
        wave.closeSubPath();
        g.setColour (theme.heroTop.withAlpha (0.22f));
        g.fillPath (wave);

        g.setGradientFill (juce::ColourGradient (theme.heroTop, 0.0f, 0.0f,
                                                 theme.heroBottom, (float) windowWidth * 0.55f, heroHeight, false));
        g.fillPath (hero);

        // Soft light shapes, flat so that they cost almost nothing to store.
        {
            juce::Graphics::ScopedSaveState state (g);
            g.reduceClipRegion (hero);
            g.setColour (juce::Colours::white.withAlpha (0.07f));
            g.fillEllipse (268.0f, -120.0f, 300.0f, 300.0f);
            g.fillEllipse (-150.0f, 96.0f, 290.0f, 290.0f);
            g.setColour (juce::Colours::white.withAlpha (0.05f));
            g.fillEllipse (330.0f, 120.0f, 180.0f, 180.0f);
            g.setColour (juce::Colours::white.withAlpha (0.10f));
            g.drawEllipse (-70.0f, -170.0f, 260.0f, 260.0f, 1.2f);
        }

        const juce::Rectangle<float> tile (225.0f - 40.0f, 44.0f, 80.0f, 80.0f);
        drawProductMark (g, tile, theme);
        drawBadge (g, tile.getBottomRight().translated (-4.0f, -4.0f), badge);

        // Wordmark: the product line in bold, the edition in a lighter weight.
        Line wordmark { { "Zembrik", { 30.0f, "Bold", true, -0.01f } } };

        if (theme.editionWord.isNotEmpty())
            wordmark.push_back ({ " " + theme.editionWord, { 30.0f, "Light", true, -0.01f } });

        drawCentredLine (g, wordmark, 225.0f, 176.0f, (float) windowWidth - 2.0f * textMargin, juce::Colours::white);
    }

    void drawPage (juce::Graphics& g, const Theme& theme, const PageContent& content, Language language)
    {
        g.addTransform (juce::AffineTransform::scale (renderScale));
        g.fillAll (pageColour);
        drawHero (g, theme, content.badge);

        const auto japanese = language == Language::japanese;
        const TextStyle titleStyle { japanese ? 21.0f : 23.0f, "Semi Bold", true, -0.01f, 0.55f };
        const TextStyle bodyStyle  { japanese ? 13.5f : 14.5f, "Regular", false, 0.0f, 0.0f };
        const auto titleGap = 38.0f;
        const auto lineHeight = japanese ? 24.0f : 23.0f;
        const auto available = (float) windowWidth - 2.0f * textMargin;

        // Centre the block of text in the white space between the hero and the buttons.
        const auto blockHeight = titleGap + lineHeight * (float) (content.body.size() - 1);
        const auto top = heroHeight + 24.0f;
        const auto bottom = 476.0f;
        auto baseline = top + (bottom - top - blockHeight) * 0.5f + 6.0f;

        drawCentredLine (g, { { content.title, titleStyle } }, 225.0f, baseline, available, titleColour);
        baseline += titleGap;

        for (const auto& text : content.body)
        {
            drawCentredLine (g, { { text, bodyStyle } }, 225.0f, baseline, available, bodyColour);
            baseline += lineHeight;
        }

        drawCentredLine (g, { { "OSTREL", { 9.5f, "Semi Bold", false, 0.28f } } },
                         225.0f, 584.0f, available, footerColour);
    }

    //==============================================================================================
    // Buttons

    enum class ButtonKind { primary, secondary };

    juce::Image drawButton (int width, int height, ButtonKind kind, const juce::String& label)
    {
        auto image = makeCanvas (width, height, false);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (renderScale));

        const auto area = juce::Rectangle<float> ((float) width, (float) height).reduced (0.5f);
        const auto radius = juce::jmin (12.0f, area.getHeight() * 0.24f);
        juce::Path shape;
        shape.addRoundedRectangle (area, radius);

        if (kind == ButtonKind::primary)
        {
            g.setGradientFill (juce::ColourGradient (primaryTop, 0.0f, area.getY(),
                                                     primaryBottom, 0.0f, area.getBottom(), false));
            g.fillPath (shape);

            // A faint light along the top edge gives the surface a little depth.
            juce::Graphics::ScopedSaveState state (g);
            g.reduceClipRegion (shape);
            g.setColour (juce::Colours::white.withAlpha (0.22f));
            g.drawRoundedRectangle (area.translated (0.0f, 1.0f), radius, 1.0f);
        }
        else
        {
            g.setGradientFill (juce::ColourGradient (juce::Colours::white, 0.0f, area.getY(),
                                                     juce::Colour (0xfff4f7fc), 0.0f, area.getBottom(), false));
            g.fillPath (shape);
        }

        g.setColour (kind == ButtonKind::primary ? primaryEdge : secondaryEdge);
        g.strokePath (shape, juce::PathStrokeType (1.0f));

        const TextStyle style { height > 52 ? 17.0f : 15.5f, "Semi Bold", false, 0.0f, 0.45f };
        const Line line { { label, style } };
        const auto centre = area.getCentre();
        drawCentredLine (g, line, centre.x, baselineCentring (line, centre.y),
                         area.getWidth() - 2.0f * radius,
                         kind == ButtonKind::primary ? juce::Colours::white : secondaryText);
        return image;
    }

    juce::Image drawQuestionBadge()
    {
        const auto size = questionBounds.getWidth();
        auto image = makeCanvas (size, size, false);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (renderScale));

        const auto area = juce::Rectangle<float> ((float) size, (float) size).reduced (0.5f);
        g.setColour (juce::Colour (0xffeef3fb));
        g.fillEllipse (area);
        g.setColour (secondaryEdge);
        g.drawEllipse (area, 1.0f);

        const Line line { { "?", { 11.5f, "Bold" } } };
        drawCentredLine (g, line, area.getCentreX(), baselineCentring (line, area.getCentreY()),
                         area.getWidth(), secondaryText);
        return image;
    }

    //==============================================================================================
    // The set of files

    struct Artwork
    {
        juce::String name;
        juce::Image image;
    };

    juce::String productName (const Theme& theme)
    {
        return theme.editionWord.isEmpty() ? juce::String ("Zembrik") : "Zembrik " + theme.editionWord;
    }

    PageContent signInContent (const Theme& theme, Language language)
    {
        const auto product = productName (theme);

        if (language == Language::japanese)
            return { utf8 ("Ostrelアカウントでサインイン"),
                     { product + utf8 ("をご利用いただくには、"),
                       utf8 ("Ostrelアカウントでサインインしてください。"),
                       utf8 ("サインインはWebブラウザーで行います。") },
                     Badge::none, { signInBounds, questionBounds } };

        return { "Sign in to " + product,
                 { "Use your Ostrel account to continue.",
                   "Sign-in opens securely in your web browser." },
                 Badge::none, { signInBounds, questionBounds } };
    }

    PageContent completedContent (Language language)
    {
        if (language == Language::japanese)
            return { utf8 ("サインインが完了しました"),
                     { utf8 ("Ostrelアカウントでサインインしました。"),
                       utf8 ("下のボタンからZembrikをご利用ください。") },
                     Badge::success, { signInBounds } };

        return { "Sign-in complete",
                 { "You're signed in with your Ostrel account.",
                   "Click the button below to start using Zembrik." },
                 Badge::success, { signInBounds } };
    }

    PageContent failedContent (Language language)
    {
        if (language == Language::japanese)
            return { utf8 ("サインインできませんでした"),
                     { utf8 ("もう一度お試しください。問題が解決しない場合は、"),
                       utf8 ("ヘルプセンターでよくある質問をご確認ください。") },
                     Badge::warning, { retryBounds, helpBounds } };

        return { "We couldn't sign you in",
                 { "Please try again. If the problem continues,",
                   "visit the Help Center for answers." },
                 Badge::warning, { retryBounds, helpBounds } };
    }

    /** The buttons fade while hovered and pressed, so whatever lies under them would show through:
        their areas must hold nothing but the plain page colour. */
    void checkButtonAreasAreClear (const juce::Image& image, const PageContent& content)
    {
        for (const auto& bounds : content.buttons)
        {
            const auto area = (bounds.toFloat() * renderScale).toNearestInt();

            for (auto y = area.getY(); y < area.getBottom(); ++y)
            {
                for (auto x = area.getX(); x < area.getRight(); ++x)
                {
                    if (image.getPixelAt (x, y) != pageColour)
                    {
                        artworkProblems.add ("\"" + content.title + "\" draws under the button at "
                                             + bounds.toString());
                        return;
                    }
                }
            }
        }
    }

    juce::Image drawBackground (const Theme& theme, const PageContent& content, Language language)
    {
        auto image = makeCanvas (windowWidth, windowHeight, true);

        {
            juce::Graphics g (image);
            drawPage (g, theme, content, language);
        }

        checkButtonAreasAreClear (image, content);
        return image;
    }

    std::vector<Artwork> drawEverything()
    {
        std::vector<Artwork> files;

        for (auto language : { Language::english, Language::japanese })
        {
            const auto lang = suffix (language);
            const auto japanese = language == Language::japanese;

            files.push_back ({ "P1_BG_Common_" + lang, drawBackground (commonTheme, signInContent (commonTheme, language), language) });
            files.push_back ({ "P1_BG_Common_TESH_" + lang, drawBackground (teshTheme, signInContent (teshTheme, language), language) });
            files.push_back ({ "P1_BG_Common_PLUNDAR_" + lang, drawBackground (plundarTheme, signInContent (plundarTheme, language), language) });
            files.push_back ({ "P3_BG_Common_" + lang, drawBackground (commonTheme, completedContent (language), language) });
            files.push_back ({ "P4_BG_Common_" + lang, drawBackground (commonTheme, failedContent (language), language) });

            files.push_back ({ "P1_BTN_SignIn_" + lang,
                               drawButton (signInBounds.getWidth(), signInBounds.getHeight(), ButtonKind::primary,
                                           japanese ? utf8 ("サインイン")
                                                    : juce::String ("Sign in")) });
            files.push_back ({ "P3_BTN_Close_" + lang,
                               drawButton (signInBounds.getWidth(), signInBounds.getHeight(), ButtonKind::primary,
                                           japanese ? utf8 ("Zembrikを起動")
                                                    : juce::String ("Start Zembrik")) });
            files.push_back ({ "P4_BTN_Retry_" + lang,
                               drawButton (retryBounds.getWidth(), retryBounds.getHeight(), ButtonKind::primary,
                                           japanese ? utf8 ("再試行")
                                                    : juce::String ("Try again")) });
            files.push_back ({ "P4_BTN_Help_" + lang,
                               drawButton (helpBounds.getWidth(), helpBounds.getHeight(), ButtonKind::secondary,
                                           japanese ? utf8 ("ヘルプ")
                                                    : juce::String ("Help")) });
        }

        files.push_back ({ "BTN_question", drawQuestionBadge() });
        return files;
    }

    //==============================================================================================
    // Checks and modes

    /** Every family and style the artwork is set in must exist; the framework would otherwise
        quietly substitute another face. */
    bool fontsAreInstalled()
    {
        const std::vector<std::pair<juce::String, juce::StringArray>> needed {
            { latinFamily,    { "Regular", "Semi Bold", "Bold" } },
            { displayFamily,  { "Semi Bold", "Bold", "Light" } },
            { japaneseFamily, { "Regular" } } };

        auto ok = true;

        for (const auto& [family, styles] : needed)
        {
            const auto installed = juce::Font::findAllTypefaceStyles (family);

            for (const auto& style : styles)
            {
                if (! installed.contains (style))
                {
                    std::cerr << "missing font: " << family << " " << style << "\n";
                    ok = false;
                }
            }
        }

        return ok;
    }

    bool writePng (const juce::Image& image, const juce::File& file)
    {
        file.deleteFile();
        juce::FileOutputStream out (file);

        if (! out.openedOk() || ! juce::PNGImageFormat().writeImageToStream (image, out))
            return false;

        out.flush();
        return out.getStatus().wasOk();
    }

    int generate (const juce::File& folder)
    {
        if (! fontsAreInstalled())
            return 1;

        const auto files = drawEverything();

        if (! artworkProblems.isEmpty())
        {
            for (const auto& problem : artworkProblems)
                std::cerr << problem << "\n";

            return 1;
        }

        if (! folder.createDirectory())
        {
            std::cerr << "cannot create " << folder.getFullPathName() << "\n";
            return 1;
        }

        for (const auto& artwork : files)
        {
            const auto file = folder.getChildFile (artwork.name + ".png");

            if (! writePng (artwork.image, file))
            {
                std::cerr << "cannot write " << file.getFullPathName() << "\n";
                return 1;
            }

            std::cout << file.getFileName() << "  " << artwork.image.getWidth() << " x "
                      << artwork.image.getHeight() << "\n";
        }

        return 0;
    }

    juce::Image load (const juce::File& folder, const juce::String& name)
    {
        return juce::ImageFileFormat::loadFrom (folder.getChildFile (name + ".png"));
    }

    /** One page as the window shows it: the halved background with the buttons fitted to their bounds. */
    juce::Image compose (const juce::File& folder, const juce::String& backgroundName,
                         const std::vector<std::pair<juce::String, juce::Rectangle<int>>>& buttons)
    {
        juce::Image page (juce::Image::RGB, windowWidth, windowHeight, true);
        juce::Graphics g (page);
        g.fillAll (juce::Colours::magenta);   // shows any gap left by a missing background

        const auto background = load (folder, backgroundName);
        g.drawImageAt (background.rescaled (background.getWidth() / 2, background.getHeight() / 2,
                                            juce::Graphics::mediumResamplingQuality), 0, 0);

        for (const auto& [name, bounds] : buttons)
            g.drawImage (load (folder, name), bounds.toFloat(), juce::RectanglePlacement::centred);

        return page;
    }

    int composePreviews (const juce::File& images, const juce::File& previews)
    {
        if (! previews.createDirectory())
            return 1;

        for (auto lang : { juce::String ("EN"), juce::String ("JP") })
        {
            const std::vector<std::pair<juce::String, juce::Image>> pages {
                { "signin", compose (images, "P1_BG_Common_" + lang, { { "P1_BTN_SignIn_" + lang, signInBounds },
                                                                       { "BTN_question", questionBounds } }) },
                { "signin-tesh", compose (images, "P1_BG_Common_TESH_" + lang, { { "P1_BTN_SignIn_" + lang, signInBounds },
                                                                                 { "BTN_question", questionBounds } }) },
                { "signin-plundar", compose (images, "P1_BG_Common_PLUNDAR_" + lang, { { "P1_BTN_SignIn_" + lang, signInBounds },
                                                                                       { "BTN_question", questionBounds } }) },
                { "completed", compose (images, "P3_BG_Common_" + lang, { { "P3_BTN_Close_" + lang, signInBounds } }) },
                { "failed", compose (images, "P4_BG_Common_" + lang, { { "P4_BTN_Retry_" + lang, retryBounds },
                                                                       { "P4_BTN_Help_" + lang, helpBounds } }) } };

            // All pages of a language side by side, for a look at the whole set at once.
            juce::Image sheet (juce::Image::RGB, (windowWidth + 20) * (int) pages.size() + 20, windowHeight + 40, true);
            juce::Graphics g (sheet);
            g.fillAll (juce::Colour (0xff2a2d33));
            auto x = 20;

            for (const auto& [name, image] : pages)
            {
                writePng (image, previews.getChildFile (name + "-" + lang + ".png"));
                g.drawImageAt (image, x, 20);
                x += windowWidth + 20;
            }

            writePng (sheet, previews.getChildFile ("all-" + lang + ".png"));
        }

        std::cout << "previews in " << previews.getFullPathName() << "\n";
        return 0;
    }

    int measure (const juce::File& folder)
    {
        constexpr int rounds = 25;
        auto files = folder.findChildFiles (juce::File::findFiles, false, "*.png");
        files.sort();

        for (const auto& file : files)
        {
            juce::MemoryBlock data;
            file.loadFileAsData (data);
            std::vector<double> times;

            for (int i = 0; i < rounds; ++i)
            {
                const auto start = std::chrono::steady_clock::now();
                const auto image = juce::ImageFileFormat::loadFrom (data.getData(), data.getSize());
                times.push_back (std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count());

                if (! image.isValid())
                {
                    std::cerr << file.getFileName() << " does not decode\n";
                    return 1;
                }
            }

            std::sort (times.begin(), times.end());
            std::cout << file.getFileName().paddedRight (' ', 30) << juce::String (data.getSize() / 1024.0, 1).paddedLeft (' ', 7)
                      << " KB   median " << juce::String (times[rounds / 2], 2) << " ms   max "
                      << juce::String (times.back(), 2) << " ms\n";
        }

        return 0;
    }
}

int main (int argc, char* argv[])
{
    const juce::ScopedJuceInitialiser_GUI framework;
    const auto here = juce::File::getCurrentWorkingDirectory();

    if (argc == 2 && juce::String (argv[1]) != "--measure" && juce::String (argv[1]) != "--compose")
        return generate (here.getChildFile (argv[1]));

    if (argc == 4 && juce::String (argv[1]) == "--compose")
        return composePreviews (here.getChildFile (argv[2]), here.getChildFile (argv[3]));

    if (argc == 3 && juce::String (argv[1]) == "--measure")
        return measure (here.getChildFile (argv[2]));

    std::cerr << "usage: ArtworkGenerator <output folder>\n       ArtworkGenerator --compose <image folder> <preview folder>\n       ArtworkGenerator --measure <image folder>\n";
    return 2;
}

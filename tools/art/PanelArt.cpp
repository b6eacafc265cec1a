// Draws the panel's pictures with juce::Graphics and writes them as RGB PNGs into a folder; make-art.sh
// turns them into the committed 8-bit indexed pictures under resources/images/.
//
// Every picture that exists at two resolutions is drawn from one description in the coordinates of the
// large picture ("art units"), scaled by 1 or 0.5. Where a widget's position at the small size is not
// exactly half of its position at the large size (the fader slots), the description takes the position
// for each resolution. Lit pictures are the unlit picture with the lit parts drawn over it, clipped to
// the regions the widgets always cover, so both are identical everywhere else.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <iostream>

namespace
{
using juce::Colour;
using juce::Graphics;
using juce::Rectangle;

// ---------------------------------------------------------------------------------------------------
// Palette and type

const Colour ground{0xffd3d5d8};      // the anodised front plate
const Colour groundShade{0xffc3c6ca}; // engraved lines, recesses
const Colour field{0xffa9adb2};       // the darker fields around the faders
const Colour fieldEdge{0xff8d9196};
const Colour ink{0xff2e3135}; // printed legends
const Colour inkSoft{0xff62666b};
const Colour slotDark{0xff1d1f22};
const Colour displayDark{0xff15181b};
const Colour keyTop{0xfff1f2f3};
const Colour keyBottom{0xffcfd2d5};
const Colour keyEdge{0xff85898e};

juce::Font face(float height, bool bold, float kerning = 0.0f)
{
    return juce::Font(juce::Font::getDefaultSansSerifFontName(), height,
                      bold ? juce::Font::bold : juce::Font::plain)
        .withExtraKerningFactor(kerning);
}

void text(Graphics& g, const juce::String& s, Rectangle<float> area, const juce::Font& font, Colour colour,
          juce::Justification just = juce::Justification::centred)
{
    g.setColour(colour);
    g.setFont(font);
    g.drawText(s, area, just, false);
}

// A keycap: soft shadow below, outline, vertical gradient face.
void keyCap(Graphics& g, Rectangle<float> r, float corner, Colour top, Colour bottom, Colour edge)
{
    g.setColour(juce::Colours::black.withAlpha(0.18f));
    g.fillRoundedRectangle(r.translated(0.0f, 1.5f).expanded(0.5f), corner + 0.5f);
    g.setColour(edge);
    g.fillRoundedRectangle(r, corner);
    g.setGradientFill(juce::ColourGradient(top, 0.0f, r.getY(), bottom, 0.0f, r.getBottom(), false));
    g.fillRoundedRectangle(r.reduced(1.0f), corner - 0.5f);
}

// A lit keycap: the same shape glowing in `colour`, with a bright centre.
void litKeyCap(Graphics& g, Rectangle<float> r, float corner, Colour colour)
{
    g.setColour(colour.darker(0.55f));
    g.fillRoundedRectangle(r, corner);
    g.setGradientFill(juce::ColourGradient(colour.brighter(0.45f), r.getCentreX(), r.getCentreY(),
                                           colour.darker(0.15f), r.getX(), r.getY(), true));
    g.fillRoundedRectangle(r.reduced(1.0f), corner - 0.5f);
}

// The maker's mark: a dark disc crossed by one white wave, then the word ORVALIS, centred on `centre`.
void orvalisLogo(Graphics& g, juce::Point<float> centre, float radius, float wordHeight, Colour colour,
                 Colour onDisc)
{
    const float wordWidth = face(wordHeight, true, 0.18f).getStringWidthFloat("ORVALIS");
    const juce::Point<float> discCentre{centre.x - (radius * 2.45f + wordWidth) / 2 + radius, centre.y};
    g.setColour(colour);
    g.fillEllipse(Rectangle<float>(radius * 2, radius * 2).withCentre(discCentre));

    juce::Path wave;
    const float x0 = discCentre.x - radius * 0.72f, x1 = discCentre.x + radius * 0.72f;
    for (int i = 0; i <= 40; ++i)
    {
        const float t = float(i) / 40.0f;
        const float x = x0 + (x1 - x0) * t;
        const float y = discCentre.y - std::sin(t * juce::MathConstants<float>::twoPi) * radius * 0.38f;
        if (i == 0)
            wave.startNewSubPath(x, y);
        else
            wave.lineTo(x, y);
    }
    g.setColour(onDisc);
    g.strokePath(wave, juce::PathStrokeType(radius * 0.2f, juce::PathStrokeType::curved,
                                            juce::PathStrokeType::rounded));

    const auto word = face(wordHeight, true, 0.18f);
    text(g, "ORVALIS",
         {discCentre.x + radius * 1.45f, discCentre.y - wordHeight * 0.6f, wordHeight * 7.0f,
          wordHeight * 1.2f},
         word, colour, juce::Justification::centredLeft);
}

// ---------------------------------------------------------------------------------------------------
// Main panel, 452 x 696 art units

struct PanelResolution
{
    float scale;                   // pixels per art unit
    float slotX[4];                // centres of the four fader slots (where the faders' thumbs run)
    float travelTop, travelBottom; // the thumb centre's travel, 0 dB at the top, -60 dB at the bottom
    Rectangle<float> lit[5];       // regions a lit part may cover: mute in, mute out, rec, hp, meter 1
};

// The regions are the pixels each widget covers at every window width of its resolution.
Rectangle<float> pixels(float x0, float x1, float y0, float y1, float scale)
{
    return Rectangle<float>::leftTopRightBottom(x0, y0, x1 + 1, y1 + 1) / scale;
}

const PanelResolution large{1.0f,
                            {100, 134, 318, 352},
                            145.5f,
                            432.5f,
                            {pixels(79, 150, 514, 551, 1), pixels(299, 370, 514, 551, 1),
                             pixels(35, 155, 626, 653, 1), pixels(292, 412, 626, 653, 1),
                             pixels(66, 79, 146, 427, 1)}};
const PanelResolution small{0.5f,
                            {99, 133, 317, 351},
                            145.0f,
                            431.0f,
                            {pixels(40, 74, 258, 274, 0.5f), pixels(150, 184, 258, 274, 0.5f),
                             pixels(18, 77, 314, 325, 0.5f), pixels(147, 205, 314, 325, 0.5f),
                             pixels(34, 39, 74, 212, 0.5f)}};

const Rectangle<float> fieldIn{56, 122, 126, 328}, fieldOut{272, 122, 126, 328};
const Rectangle<float> displayIn{30, 458, 174, 36}, displayOut{248, 458, 174, 36};
const float meterX[4] = {68, 154, 286, 372};
const float meterTop = 148, meterBottom = 426, meterWidth = 12;
const Rectangle<float> muteIn{80, 516, 69, 34}, muteOut{300, 516, 69, 34};
const Rectangle<float> recKey{36, 628, 118, 24}, hpKey{294, 628, 118, 24};
const juce::Point<float> knobCentre{226, 642};
const int meterSegments = 23;

Rectangle<float> meterSegment(float x, int i)
{
    const float pitch = (meterBottom - meterTop - 2) / float(meterSegments);
    const float bottom = meterBottom - 2 - pitch * float(i);
    return Rectangle<float>::leftTopRightBottom(x + 2, bottom - pitch + 2, x + meterWidth - 2, bottom);
}

void meterTrack(Graphics& g, float x)
{
    const auto r = Rectangle<float>::leftTopRightBottom(x, meterTop, x + meterWidth, meterBottom);
    g.setColour(fieldEdge.darker(0.3f));
    g.fillRoundedRectangle(r.expanded(1), 3);
    g.setColour(slotDark);
    g.fillRoundedRectangle(r, 2.5f);
    for (int i = 0; i < meterSegments; ++i)
    {
        g.setColour(Colour(0xff2c3034));
        g.fillRect(meterSegment(x, i));
    }
}

void litMeter(Graphics& g, float x)
{
    for (int i = 0; i < meterSegments; ++i)
    {
        const float level = float(i) / float(meterSegments - 1);
        const Colour c =
            level < 0.62f ? Colour(0xff3fd35a) : (level < 0.85f ? Colour(0xffffd23a) : Colour(0xffff3b2f));
        g.setColour(c);
        g.fillRect(meterSegment(x, i));
    }
}

void faderField(Graphics& g, Rectangle<float> area, const PanelResolution& res, int firstSlot,
                const juce::String& heading, float firstMeterX, float secondMeterX)
{
    text(g, heading, {area.getX(), 94, area.getWidth(), 22}, face(17, true, 0.16f), ink);

    // Recessed field: a darker rim on top, a light lip below.
    g.setColour(juce::Colours::white.withAlpha(0.55f));
    g.fillRoundedRectangle(area.translated(0, 1.5f), 10);
    g.setColour(fieldEdge);
    g.fillRoundedRectangle(area, 10);
    g.setGradientFill(juce::ColourGradient(field.darker(0.06f), 0, area.getY(), field.brighter(0.04f), 0,
                                           area.getBottom(), false));
    g.fillRoundedRectangle(area.reduced(1.5f), 9);

    meterTrack(g, firstMeterX);
    meterTrack(g, secondMeterX);

    // Tick scale beside the first meter: one tick every fourth segment, the top one longer.
    for (int i = 0; i < meterSegments; i += 2)
    {
        const auto seg = meterSegment(firstMeterX, i);
        const float y = std::round(seg.getCentreY() * res.scale) / res.scale;
        const float len = (i % 6 == 0) ? 6.0f : 4.0f;
        g.setColour(ink.withAlpha(0.75f));
        g.fillRect(Rectangle<float>(firstMeterX - 3 - len, y - 0.5f / res.scale, len, 1.0f / res.scale));
    }

    // Fader slots and the dB scale between them (0 to -60 dB in 10 dB steps).
    const float xa = res.slotX[firstSlot], xb = res.slotX[firstSlot + 1];
    for (float x : {xa, xb})
    {
        const auto slot =
            Rectangle<float>::leftTopRightBottom(x - 3, res.travelTop - 10, x + 3, res.travelBottom + 10);
        g.setColour(juce::Colours::white.withAlpha(0.35f));
        g.fillRoundedRectangle(slot.translated(0, 1), 3);
        g.setColour(slotDark);
        g.fillRoundedRectangle(slot, 3);
    }
    const float scaleCentre = (xa + xb) / 2;
    for (int i = 0; i <= 6; ++i)
    {
        const float y = res.travelTop + (res.travelBottom - res.travelTop) * float(i) / 6.0f;
        const float yy = std::floor(y * res.scale) / res.scale;
        const float len = (i == 0 || i == 6) ? 8.0f : 6.0f;
        g.setColour(ink.withAlpha(0.8f));
        g.fillRect(Rectangle<float>(scaleCentre - len / 2, yy, len, 1.0f / res.scale));
    }
}

void readoutDisplay(Graphics& g, Rectangle<float> r)
{
    g.setColour(juce::Colours::white.withAlpha(0.6f));
    g.fillRoundedRectangle(r.translated(0, 1.5f), 6);
    g.setColour(Colour(0xff6f7378));
    g.fillRoundedRectangle(r, 6);
    g.setGradientFill(
        juce::ColourGradient(Colour(0xff22262a), 0, r.getY(), displayDark, 0, r.getY() + 12, false));
    g.fillRoundedRectangle(r.reduced(2), 4.5f);
    // A faint divider between the left and the right read-out.
    g.setColour(Colour(0xff2f3438));
    g.fillRect(Rectangle<float>(r.getCentreX() - 0.5f, r.getY() + 6, 1, r.getHeight() - 12));
}

void knobBody(Graphics& g)
{
    const auto c = knobCentre;
    // Scale marks from 225 to 135 degrees clockwise from the top, through the top.
    for (int i = 0; i <= 10; ++i)
    {
        const float a = juce::degreesToRadians(225.0f + 27.0f * float(i));
        const float inner = 45, outer = (i == 0 || i == 10) ? 52.0f : 49.0f;
        juce::Line<float> l(c.x + inner * std::sin(a), c.y - inner * std::cos(a), c.x + outer * std::sin(a),
                            c.y - outer * std::cos(a));
        g.setColour(ink.withAlpha(0.8f));
        g.drawLine(l, 1.6f);
    }
    auto circle = [&](float r) { return Rectangle<float>(2 * r, 2 * r).withCentre(c); };
    g.setColour(juce::Colours::black.withAlpha(0.2f));
    g.fillEllipse(circle(42.5f).translated(0, 1.5f));
    g.setGradientFill(
        juce::ColourGradient(Colour(0xfff4f5f6), c.x, c.y - 42, Colour(0xffaeb2b6), c.x, c.y + 42, false));
    g.fillEllipse(circle(42));
    g.setColour(Colour(0xff101214));
    g.fillEllipse(circle(38.5f));
    g.setGradientFill(juce::ColourGradient(Colour(0xff474c52), c.x - 14, c.y - 22, Colour(0xff1a1c1f),
                                           c.x + 20, c.y + 30, true));
    g.fillEllipse(circle(37.5f));
}

void drawPanel(Graphics& g, const PanelResolution& res, bool lit)
{
    g.addTransform(juce::AffineTransform::scale(res.scale));
    g.fillAll(ground);

    // Product name and the line under it.
    const auto name = face(34, true, 0.04f);
    const float pelkWidth = name.getStringWidthFloat("Pelk "), vodWidth = name.getStringWidthFloat("VOD");
    const float x0 = 226 - (pelkWidth + vodWidth) / 2;
    text(g, "Pelk", {x0, 18, pelkWidth, 40}, name, ink, juce::Justification::centredLeft);
    text(g, "VOD", {x0 + pelkWidth, 18, vodWidth + 4, 40}, name, Colour(0xffc62a22),
         juce::Justification::centredLeft);
    text(g, "USB AUDIO INTERFACE", {126, 58, 200, 14}, face(10.5f, false, 0.3f), inkSoft);
    g.setColour(groundShade);
    g.fillRect(Rectangle<float>(30, 80, 392, 1));
    g.setColour(juce::Colours::white.withAlpha(0.7f));
    g.fillRect(Rectangle<float>(30, 81, 392, 1));

    faderField(g, fieldIn, res, 0, "INPUT", meterX[0], meterX[1]);
    faderField(g, fieldOut, res, 2, "OUTPUT", meterX[2], meterX[3]);
    readoutDisplay(g, displayIn);
    readoutDisplay(g, displayOut);

    // Mute keys with the maker's mark between them.
    const auto muteFont = face(14, true, 0.1f);
    for (auto r : {muteIn, muteOut})
    {
        keyCap(g, r, 5, keyTop, keyBottom, keyEdge);
        text(g, "MUTE", r, muteFont, ink);
    }
    orvalisLogo(g, {226, 535}, 11, 15, ink, ground);

    // Monitor section: heading between two engraved rules, switches either side of the knob.
    const auto monitorFont = face(13, true, 0.2f);
    const float headingWidth = monitorFont.getStringWidthFloat("VOD SUB MONITOR") + 8;
    text(g, "VOD SUB MONITOR", {226 - headingWidth / 2, 570, headingWidth, 20}, monitorFont, ink);
    for (auto r : {Rectangle<float>::leftTopRightBottom(36, 580, 226 - headingWidth / 2 - 10, 581),
                   Rectangle<float>::leftTopRightBottom(226 + headingWidth / 2 + 10, 580, 412, 581)})
    {
        g.setColour(groundShade.darker(0.08f));
        g.fillRect(r);
        g.setColour(juce::Colours::white.withAlpha(0.7f));
        g.fillRect(r.translated(0, 1));
    }
    const auto switchFont = face(11.5f, true, 0.12f);
    keyCap(g, recKey, 5, keyTop, keyBottom, keyEdge);
    text(g, "ENABLE REC", recKey, switchFont, ink);
    keyCap(g, hpKey, 5, keyTop, keyBottom, keyEdge);
    text(g, "TO OUTPUT", hpKey, switchFont, ink);
    knobBody(g);

    if (!lit)
        return;

    // The lit face: each part drawn only inside its own region.
    struct LitPart
    {
        Rectangle<float> key;
        Colour colour;
        const char* legend;
        const juce::Font* font;
    };
    const LitPart parts[] = {{muteIn, Colour(0xffe8322a), "MUTE", &muteFont},
                             {muteOut, Colour(0xffe8322a), "MUTE", &muteFont},
                             {recKey, Colour(0xfff5a623), "ENABLE REC", &switchFont},
                             {hpKey, Colour(0xff2f86e8), "TO OUTPUT", &switchFont}};
    for (int i = 0; i < 4; ++i)
    {
        Graphics::ScopedSaveState state(g);
        g.reduceClipRegion(res.lit[i].getSmallestIntegerContainer());
        litKeyCap(g, parts[i].key, 5, parts[i].colour);
        text(g, parts[i].legend, parts[i].key, *parts[i].font, juce::Colours::white);
    }
    Graphics::ScopedSaveState state(g);
    g.reduceClipRegion(res.lit[4].getSmallestIntegerContainer());
    litMeter(g, meterX[0]);
}

// ---------------------------------------------------------------------------------------------------
// Fader thumbs, drawn pixel for pixel at each size

void drawThumb(Graphics& g, int w, int h, bool linked)
{
    const float s = float(w) / 22.0f;
    const int middle = h / 2;
    const Colour body = linked ? Colour(0xfff2a93b) : Colour(0xffe3e5e8);
    const auto r = Rectangle<float>(0, 0, float(w), float(h));

    g.fillAll(field);
    g.setColour(Colour(0xff3b3e42));
    g.fillRoundedRectangle(r, 2.5f * s);
    g.setGradientFill(
        juce::ColourGradient(body.brighter(0.25f), 0, 0, body.darker(0.22f), 0, float(h), false));
    g.fillRoundedRectangle(r.reduced(1), 2 * s);

    // Grip ridges above and below the middle line.
    for (int k = 1; k <= 3; ++k)
    {
        const int step = std::max(2, int(std::round(3.0f * s * 1.4f)));
        for (int y : {middle - k * step, middle + k * step})
        {
            if (y < 2 || y > h - 3)
                continue;
            g.setColour(body.darker(0.35f));
            g.fillRect(2, y, w - 4, 1);
        }
    }
    g.setColour(Colour(0xff17191b));
    g.fillRect(1, middle, w - 2, 1);
}

// ---------------------------------------------------------------------------------------------------
// Loopback picture, 314 x 322 art units

const Rectangle<float> offKey{17, 100, 36, 36}, onKey{17, 208, 36, 36};

void socketDot(Graphics& g, juce::Point<float> p)
{
    g.setColour(juce::Colours::white.withAlpha(0.6f));
    g.fillEllipse(Rectangle<float>(12, 12).withCentre(p.translated(0, 1)));
    g.setColour(Colour(0xff3a3e43));
    g.fillEllipse(Rectangle<float>(12, 12).withCentre(p));
    g.setColour(Colour(0xff8a8f95));
    g.fillEllipse(Rectangle<float>(5, 5).withCentre(p));
}

void groupPanel(Graphics& g, Rectangle<float> r)
{
    g.setColour(juce::Colours::white.withAlpha(0.55f));
    g.fillRoundedRectangle(r.translated(0, 1), 7);
    g.setColour(groundShade.darker(0.05f));
    g.fillRoundedRectangle(r, 7);
    g.setColour(Colour(0xffc9ccd0));
    g.fillRoundedRectangle(r.reduced(1), 6);
}

void patchGridLogo(Graphics& g, float x, float y, Colour colour)
{
    g.setColour(colour);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            g.fillRoundedRectangle(x + float(i) * 6.5f, y + float(j) * 6.5f, 5, 5, 1);
    text(g, "Patch", {x + 24, y - 3, 60, 24}, face(15, false), colour, juce::Justification::centredLeft);
    text(g, "GRID", {x + 24 + face(15, false).getStringWidthFloat("Patch"), y - 3, 60, 24}, face(15, true),
         colour, juce::Justification::centredLeft);
}

void drawLoopback(Graphics& g, float scale, bool lit)
{
    g.addTransform(juce::AffineTransform::scale(scale));
    g.fillAll(ground);

    const auto heading = face(14, true, 0.18f);
    text(g, "PLAYBACK", {14, 14, 140, 22}, heading, ink, juce::Justification::centredLeft);
    text(g, "RECORDING", {160, 14, 140, 22}, heading, ink, juce::Justification::centredRight);
    g.setColour(groundShade.darker(0.08f));
    g.fillRect(Rectangle<float>(14, 42, 286, 1));
    g.setColour(juce::Colours::white.withAlpha(0.7f));
    g.fillRect(Rectangle<float>(14, 43, 286, 1));

    groupPanel(g, {8, 58, 108, 104});
    groupPanel(g, {8, 166, 108, 104});
    groupPanel(g, {244, 178, 62, 96});

    const auto groupFont = face(10, true, 0.16f);
    text(g, "HARDWARE", {14, 61, 84, 14}, groupFont, inkSoft, juce::Justification::centredLeft);
    text(g, "VIRTUAL", {14, 169, 84, 14}, groupFont, inkSoft, juce::Justification::centredLeft);
    text(g, "VIRTUAL", {244, 278, 62, 14}, groupFont, inkSoft);

    const auto numberFont = face(13, true);
    const std::pair<juce::Point<float>, const char*> left[] = {
        {{99, 97}, "1"}, {{99, 141}, "2"}, {{99, 205}, "5"}, {{99, 249}, "6"}};
    for (const auto& [p, n] : left)
    {
        socketDot(g, p);
        text(g, n, {p.x - 30, p.y - 9, 16, 18}, numberFont, ink);
    }
    const std::pair<juce::Point<float>, const char*> right[] = {{{267, 203}, "5"}, {{267, 248}, "6"}};
    for (const auto& [p, n] : right)
    {
        socketDot(g, p);
        text(g, n, {p.x + 12, p.y - 9, 16, 18}, numberFont, ink);
    }

    const auto keyFont = face(11, true, 0.08f);
    keyCap(g, offKey, 5, keyTop, keyBottom, keyEdge);
    text(g, "OFF", offKey, keyFont, ink);
    keyCap(g, onKey, 5, keyTop, keyBottom, keyEdge);
    text(g, "ON", onKey, keyFont, ink);

    patchGridLogo(g, 196, 296, inkSoft);

    if (!lit)
        return;
    const std::pair<Rectangle<float>, const char*> keys[] = {{offKey, "OFF"}, {onKey, "ON"}};
    const Rectangle<int> regions[] = {{16, 99, 38, 38}, {16, 207, 38, 38}};
    for (int i = 0; i < 2; ++i)
    {
        Graphics::ScopedSaveState state(g);
        g.reduceClipRegion(regions[i]);
        litKeyCap(g, keys[i].first, 5, Colour(0xff3cc25a));
        text(g, keys[i].second, keys[i].first, keyFont, juce::Colours::white);
    }
}

// ---------------------------------------------------------------------------------------------------
// Routing matrix, 522 x 424 (kept with the set; nothing shows it)

void drawRoutingMatrix(Graphics& g, bool lit)
{
    g.fillAll(ground);
    patchGridLogo(g, 20, 20, ink);
    text(g, "ROUTING MATRIX", {300, 16, 200, 24}, face(13, true, 0.18f), inkSoft,
         juce::Justification::centredRight);

    const char* inputs[] = {"HW IN 1", "HW IN 2", "PLAY 1", "PLAY 2", "PLAY 3", "PLAY 4", "PLAY 5", "PLAY 6"};
    const char* outputs[] = {"OUT 1", "OUT 2", "REC 1", "REC 2", "REC 3", "REC 4", "REC 5", "REC 6"};
    const float left = 130, top = 100, cell = 44, rowPitch = 38;
    const auto labelFont = face(11, true, 0.06f);

    groupPanel(g, {left - 8, top - 8, cell * 8 + 16, rowPitch * 7 + 36});
    for (int c = 0; c < 8; ++c)
        text(g, outputs[c], {left + cell * float(c) - 4, top - 40, cell + 8, 24}, labelFont, ink);
    for (int r = 0; r < 8; ++r)
    {
        const float y = top + rowPitch * float(r);
        text(g, inputs[r], {24, y - 2, 96, 24}, labelFont, ink, juce::Justification::centredRight);
        for (int c = 0; c < 8; ++c)
        {
            const juce::Point<float> p{left + cell * float(c) + cell / 2, y + 10};
            socketDot(g, p);
            const bool on =
                (r < 2 && c == r) || (r == 6 && c == 6) || (r == 7 && c == 7) || (r < 2 && c == r + 2);
            if (lit && on)
            {
                g.setColour(Colour(0xff3cc25a));
                g.fillEllipse(Rectangle<float>(11, 11).withCentre(p));
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// About box, 534 x 212: the maker, the product, the link, a close button, and a drawing of the interface

void drawInterfaceIllustration(Graphics& g)
{
    // Shadow on the desk.
    g.setGradientFill(
        juce::ColourGradient(Colour(0x40000000), 395, 168, Colour(0x00000000), 395, 182, false));
    g.fillEllipse(290, 156, 210, 24);

    // Top face in perspective, then the front plate.
    juce::Path top;
    top.startNewSubPath(294, 67);
    top.lineTo(496, 67);
    top.lineTo(482, 38);
    top.lineTo(308, 38);
    top.closeSubPath();
    g.setGradientFill(juce::ColourGradient(Colour(0xffe4e7ea), 0, 38, Colour(0xffc2c6cb), 0, 67, false));
    g.fillPath(top);
    g.setColour(Colour(0xff8d9196));
    g.strokePath(top, juce::PathStrokeType(1.0f, juce::PathStrokeType::curved));
    orvalisLogo(g, {395, 53}, 5, 8, Colour(0xff7b8086), Colour(0xffdfe2e5));

    // Rubber feet, then the front plate with a light edge along its top.
    g.setColour(Colour(0xff2a2d30));
    g.fillRoundedRectangle(306, 162, 22, 7, 2);
    g.fillRoundedRectangle(462, 162, 22, 7, 2);
    const Rectangle<float> front{292, 66, 206, 100};
    g.setColour(Colour(0xff7f8389));
    g.fillRoundedRectangle(front, 6);
    g.setGradientFill(juce::ColourGradient(ground.brighter(0.08f), 0, front.getY(), ground.darker(0.1f), 0,
                                           front.getBottom(), false));
    g.fillRoundedRectangle(front.reduced(1.5f), 5);
    g.setColour(juce::Colours::white.withAlpha(0.8f));
    g.fillRect(front.getX() + 5, front.getY() + 1.5f, front.getWidth() - 10, 1.0f);

    text(g, "Pelk", {302, 72, 40, 16}, face(13, true), ink, juce::Justification::centredLeft);
    text(g, "VOD", {302 + face(13, true).getStringWidthFloat("Pelk "), 72, 40, 16}, face(13, true),
         Colour(0xffc62a22), juce::Justification::centredLeft);

    // Two meter strips with a few lit segments.
    for (int m = 0; m < 2; ++m)
    {
        const float x = 304 + float(m) * 9;
        g.setColour(slotDark);
        g.fillRoundedRectangle(x, 94, 6, 60, 1.5f);
        for (int i = 0; i < 9; ++i)
        {
            const bool on = i < 5 - m;
            g.setColour(on ? (i < 6 ? Colour(0xff3fd35a) : Colour(0xffffd23a)) : Colour(0xff2c3034));
            g.fillRect(x + 1, 150 - float(i) * 6.2f - 4.5f, 4.0f, 4.5f);
        }
    }

    // Mute keys, two lit.
    for (int i = 0; i < 2; ++i)
    {
        const Rectangle<float> key{330, 98 + float(i) * 28, 30, 18};
        keyCap(g, key, 3, keyTop, keyBottom, keyEdge);
        if (i == 0)
            litKeyCap(g, key, 3, Colour(0xffe8322a));
        text(g, "MUTE", key, face(7, true), i == 0 ? juce::Colours::white : ink);
    }

    // The monitor knob.
    const juce::Point<float> c{400, 122};
    g.setColour(Colour(0x33000000));
    g.fillEllipse(Rectangle<float>(58, 58).withCentre(c.translated(0, 2)));
    g.setColour(Colour(0xffe8eaec));
    g.fillEllipse(Rectangle<float>(56, 56).withCentre(c));
    g.setGradientFill(juce::ColourGradient(Colour(0xff4a4f55), c.x - 8, c.y - 14, Colour(0xff17191c),
                                           c.x + 14, c.y + 18, true));
    g.fillEllipse(Rectangle<float>(48, 48).withCentre(c));
    g.setColour(Colour(0xff30649e));
    g.fillEllipse(Rectangle<float>(6, 6).withCentre({c.x + 13, c.y - 13}));
    text(g, "VOD SUB MONITOR", {360, 84, 80, 10}, face(6.5f, true, 0.1f), inkSoft);

    // Switches, headphone socket, power light.
    const Rectangle<float> rec{440, 98, 44, 14}, hp{440, 120, 44, 14};
    keyCap(g, rec, 3, keyTop, keyBottom, keyEdge);
    litKeyCap(g, rec, 3, Colour(0xfff5a623));
    text(g, "ENABLE REC", rec, face(5.5f, true), juce::Colours::white);
    keyCap(g, hp, 3, keyTop, keyBottom, keyEdge);
    text(g, "TO OUTPUT", hp, face(5.5f, true), ink);

    const juce::Point<float> jack{452, 150};
    g.setColour(Colour(0xff6d7277));
    g.fillEllipse(Rectangle<float>(16, 16).withCentre(jack));
    g.setColour(Colour(0xffc9cdd1));
    g.fillEllipse(Rectangle<float>(12, 12).withCentre(jack));
    g.setColour(Colour(0xff101214));
    g.fillEllipse(Rectangle<float>(6, 6).withCentre(jack));
    g.setColour(Colour(0xff3fd35a));
    g.fillEllipse(480, 147, 6, 6);
}

void drawAbout(Graphics& g)
{
    const Colour paper{0xfff3f4f5};
    g.fillAll(paper);

    orvalisLogo(g, {128, 32}, 12, 17, ink, paper);
    text(g, "Pelk VOD", {20, 58, 216, 40}, face(30, true), ink);
    text(g, "USB audio interface", {20, 96, 216, 16}, face(12, false), inkSoft);
    text(g, "Control panel software. (c) Orvalis.", {20, 114, 216, 14}, face(10, false), inkSoft);

    // The web address, underlined, inside the link area (59, 140, 138, 20).
    const auto linkFont = face(12, false);
    const juce::String address = "www.orvalis.example";
    const float w = linkFont.getStringWidthFloat(address);
    const float x = 59 + (138 - w) / 2;
    text(g, address, {x, 140, w + 2, 17}, linkFont, Colour(0xff1f5fb3), juce::Justification::centredLeft);
    g.fillRect(Rectangle<float>(x, 156, w, 1));

    // The close button inside the close area (109, 166, 41, 23).
    const Rectangle<float> close{110, 167, 39, 21};
    keyCap(g, close, 4, juce::Colours::white, Colour(0xffdcdfe2), Colour(0xff9a9ea3));
    text(g, "Close", close, face(11, false), ink);

    // Divider.
    g.setColour(Colour(0xffc4c7cb));
    g.fillRect(252, 0, 1, 212);
    g.setColour(juce::Colours::white);
    g.fillRect(253, 0, 1, 212);

    drawInterfaceIllustration(g);
}

// ---------------------------------------------------------------------------------------------------

juce::Image render(int w, int h, const std::function<void(Graphics&)>& draw)
{
    juce::Image image(juce::Image::RGB, w, h, true);
    Graphics g(image);
    draw(g);
    return image;
}

bool write(const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out(file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream(image, out);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: pelk_art <output folder>\n";
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juceInit;
    const juce::File dir = juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]);
    dir.createDirectory();

    struct Job
    {
        const char* file;
        int w, h;
        std::function<void(Graphics&)> draw;
    };
    const Job jobs[] = {
        {"routing-matrix.png", 522, 424, [](Graphics& g) { drawRoutingMatrix(g, false); }},
        {"routing-matrix-lit.png", 522, 424, [](Graphics& g) { drawRoutingMatrix(g, true); }},
        {"loopback-1x.png", 157, 161, [](Graphics& g) { drawLoopback(g, 0.5f, false); }},
        {"loopback-2x.png", 314, 322, [](Graphics& g) { drawLoopback(g, 1.0f, false); }},
        {"loopback-lit-2x.png", 314, 322, [](Graphics& g) { drawLoopback(g, 1.0f, true); }},
        {"panel-background-1x.png", 226, 348, [](Graphics& g) { drawPanel(g, small, false); }},
        {"panel-face-1x.png", 226, 348, [](Graphics& g) { drawPanel(g, small, true); }},
        {"panel-background-2x.png", 452, 696, [](Graphics& g) { drawPanel(g, large, false); }},
        {"panel-face-2x.png", 452, 696, [](Graphics& g) { drawPanel(g, large, true); }},
        {"thumb-1x.png", 11, 17, [](Graphics& g) { drawThumb(g, 11, 17, false); }},
        {"thumb-linked-1x.png", 11, 17, [](Graphics& g) { drawThumb(g, 11, 17, true); }},
        {"thumb-2x.png", 22, 33, [](Graphics& g) { drawThumb(g, 22, 33, false); }},
        {"thumb-linked-2x.png", 22, 33, [](Graphics& g) { drawThumb(g, 22, 33, true); }},
        {"about.png", 534, 212, [](Graphics& g) { drawAbout(g); }},
    };

    for (const auto& job : jobs)
        if (!write(render(job.w, job.h, job.draw), dir.getChildFile(job.file)))
        {
            std::cerr << "cannot write " << job.file << "\n";
            return 1;
        }
    return 0;
}

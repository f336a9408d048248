#pragma once

#include <QString>

#include <array>
#include <optional>

// The patient's directions on screen. A scan is held in LPS order (see
// volume/orientation.h), and the renderer's object axes x, y and z are the
// volume's, so object +x points to the patient's left (L), +y to posterior (P)
// and +z to superior (S). For a DAT file, which has no patient frame, the same
// arithmetic simply treats the volume's axes as L, P and S.

// The six sides of the patient, each also the direction pointing to it.
enum class PatientSide
{
    Anterior,
    Posterior,
    Left,
    Right,
    Superior,
    Inferior
};

// The letters at the four edges of the view, each naming the patient direction
// that points to that edge: right is that of screen-right, top that of
// screen-up, left and bottom their opposites. Empty strings show nothing.
struct OrientationLetters
{
    QString left;
    QString right;
    QString top;
    QString bottom;

    bool operator==(const OrientationLetters &other) const
    {
        return left == other.left && right == other.right && top == other.top &&
               bottom == other.bottom;
    }
    bool isEmpty() const
    {
        return left.isEmpty() && right.isEmpty() && top.isEmpty() && bottom.isEmpty();
    }
};

// The letters of a direction given in LPS coordinates (need not be unit
// length): the dominant component's letter (R or L, A or P, I or S), followed by
// the next strongest one's where that one is at least tan(22.5 degrees) of the
// dominant one, so that a direction reads as one of eight compass points in
// the plane of its two strongest components ("L", "LA", "A", ...). Equal
// components rank in the order x, y, z. The zero vector gives an empty string.
QString patientDirectionLetters(const std::array<double, 3> &lps);

// The letters for the renderer's rotation angles (degrees, any integer; the
// same rotation as computeFrameGeometry()). Zoom and pan do not turn the view,
// so they do not enter.
OrientationLetters orientationLetters(int xRotation, int yRotation, int zRotation);

// The rotation angles (degrees, each 0, 90, 180 or 270) of the standard view
// from a side of the patient, the viewer looking at that side:
//   Anterior:  the face; superior up, the patient's left on screen-right.
//   Posterior: the back; superior up, the patient's right on screen-right.
//   Left:      the patient's left side; superior up, posterior on screen-right.
//   Right:     the patient's right side; superior up, anterior on screen-right.
//   Superior:  from above the head; anterior up, the patient's right on
//              screen-right.
//   Inferior:  from below the feet; anterior up, the patient's left on
//              screen-right (an axial slice as radiologists read it).
// Of the 64 combinations of multiples of 90 degrees, the first one in the
// order x, then y, then z (each 0, 90, 180, 270) that gives that view.
std::array<int, 3> rotationViewingFrom(PatientSide side);

// The side for its English name as the command line writes it ("anterior",
// "posterior", "left", "right", "superior", "inferior"); none for anything else.
std::optional<PatientSide> patientSideNamed(const QString &name);

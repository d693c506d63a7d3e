#include "engine/envelope.h"

#include "engine/numeric.h"

namespace ondelith {

void Envelope::setUp(double attackSeconds, double decaySeconds, double sustainLevel,
                     double releaseSeconds, double noteLevel) {
  noteLevel_ = noteLevel;
  attackSamples_ = attackSeconds * rate_;
  decaySamples_ = decaySeconds * rate_;
  sustain_ = sustainLevel;
  releaseSamples_ = releaseSeconds * rate_;
  attackEnd_ = roundEven(attackSamples_);
  decayEnd_ = roundEven(attackSamples_ + decaySamples_);
}

}  // namespace ondelith

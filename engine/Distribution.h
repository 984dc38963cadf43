// Line lengths from distances: sound travels 330 m per second, and every
// length is a prime (or the longest length the ring allows).
#pragma once

#include <cstdint>

constexpr uint64_t kShortestLength = 101;
constexpr uint64_t kLongestLength = 15999;  // one less than the ring; not prime, used as it is

// Smallest value at or above an odd start value that passes the trial
// division; for odd values these are exactly the primes from 11 upward.
uint64_t nextPrime(uint64_t start);

// The prime length for a distance at a sample rate, held to
// kShortestLength..kLongestLength; NaN and negative distances give the
// shortest, infinite ones the longest.
uint64_t lengthForDistance(float sampleRate, float metres);

/* Korimba sample kit: a second header. */
#ifndef KORIMBA_MATH_H
#define KORIMBA_MATH_H
double korimba_scale(double value, double factor);
#endif

// The stroke font, one array per character code 32..127.  Each array is
// (code, y) pairs ended by -1: x = code & 7; a code above 7 moves the pen
// without drawing.  Columns 0..4, rows 0..11; row 2 is the baseline.
#include "font/glyphs.h"

// One glyph a line, as the table is read.
// clang-format off
static const int32_t L_space[] = {10, 2, -1};  // 32 space
static const int32_t L_exclaim[] = {10, 10, 2, 4, 10, 2, 2, 1, -1};  // 33 !
static const int32_t L_quote[] = {9, 10, 1, 8, 11, 10, 3, 8, -1};  // 34 double quote
static const int32_t L_sharp[] = {9, 9, 1, 3, 11, 9, 3, 3, 8, 5, 4, 5, 8, 7, 4, 7, -1};  // 35 #
static const int32_t L_dollar[] = {8, 3, 3, 3, 4, 4, 4, 5, 3, 6, 1, 6, 0, 7, 0, 8, 1, 9, 4, 9, 10, 10, 2, 2, -1};  // 36 $
static const int32_t L_percent[] = {12, 10, 0, 2, 9, 10, 2, 9, 1, 8, 0, 9, 1, 10, 11, 4, 4, 3, 3, 2, 2, 3, 3, 4, -1};  // 37 %
static const int32_t L_amper[] = {12, 2, 0, 7, 0, 8, 1, 9, 2, 9, 3, 8, 3, 6, 0, 5, 0, 3, 1, 2, 2, 2, 4, 4, -1};  // 38 &
static const int32_t L_prime[] = {10, 10, 2, 9, 1, 8, -1};  // 39 '
static const int32_t L_lparen[] = {11, 11, 2, 10, 1, 9, 1, 3, 2, 2, 3, 1, -1};  // 40 (
static const int32_t L_rparen[] = {9, 11, 2, 10, 3, 9, 3, 3, 2, 2, 1, 1, -1};  // 41 )
static const int32_t L_ast[] = {10, 10, 2, 6, 8, 9, 4, 7, 8, 7, 4, 9, -1};  // 42 asterisk
static const int32_t L_plus[] = {8, 6, 4, 6, 10, 8, 2, 4, -1};  // 43 +
static const int32_t L_comma[] = {10, 3, 2, 2, 1, 1, -1};  // 44 ,
static const int32_t L_minus[] = {8, 6, 4, 6, -1};  // 45 -
static const int32_t L_period[] = {9, 2, 2, 3, 3, 2, 2, 1, 1, 2, -1};  // 46 .
static const int32_t L_divide[] = {12, 10, 0, 2, -1};  // 47 /
static const int32_t L_0[] = {8, 3, 0, 9, 1, 10, 3, 10, 4, 9, 4, 3, 3, 2, 1, 2, 0, 3, 12, 10, 0, 2, -1};  // 48 0
static const int32_t L_1[] = {8, 8, 2, 10, 2, 2, 8, 2, 4, 2, -1};  // 49 1
static const int32_t L_2[] = {8, 8, 0, 9, 1, 10, 3, 10, 4, 9, 4, 7, 0, 3, 0, 2, 4, 2, -1};  // 50 2
static const int32_t L_3[] = {8, 9, 1, 10, 3, 10, 4, 9, 4, 7, 3, 6, 1, 6, 11, 6, 4, 5, 4, 3, 3, 2, 1, 2, 0, 3, -1};  // 51 3
static const int32_t L_4[] = {11, 2, 3, 10, 0, 5, 0, 4, 4, 4, -1};  // 52 4
static const int32_t L_5[] = {12, 10, 0, 10, 0, 6, 2, 7, 3, 7, 4, 6, 4, 3, 3, 2, 1, 2, 0, 3, -1};  // 53 5
static const int32_t L_6[] = {12, 9, 3, 10, 1, 10, 0, 9, 0, 3, 1, 2, 3, 2, 4, 3, 4, 5, 3, 6, 2, 6, 0, 5, -1};  // 54 6
static const int32_t L_7[] = {8, 10, 4, 10, 2, 6, 1, 2, 9, 6, 3, 6, -1};  // 55 7
static const int32_t L_8[] = {9, 2, 3, 2, 4, 3, 4, 5, 3, 6, 1, 6, 0, 5, 0, 3, 1, 2, 9, 6, 0, 7, 0, 9, 1, 10, 3, 10, 4, 9, 4, 7, 3, 6, -1};  // 56 8
static const int32_t L_9[] = {8, 3, 1, 2, 3, 2, 4, 3, 4, 9, 3, 10, 1, 10, 0, 9, 0, 7, 1, 6, 3, 6, 4, 7, -1};  // 57 9
static const int32_t L_colon[] = {9, 2, 2, 3, 3, 2, 2, 1, 1, 2, 9, 7, 2, 8, 3, 7, 2, 6, 1, 7, -1};  // 58 :
static const int32_t L_semi[] = {9, 1, 2, 2, 2, 3, 9, 7, 2, 8, 3, 7, 2, 6, 1, 7, -1};  // 59 ;
static const int32_t L_langle[] = {12, 10, 0, 6, 4, 2, -1};  // 60 less-than sign
static const int32_t L_equal[] = {8, 4, 4, 4, 8, 7, 4, 7, -1};  // 61 =
static const int32_t L_rangle[] = {8, 10, 4, 6, 0, 2, -1};  // 62 greater-than sign
// The dot runs down to row 1, as in '!': a zero-length stroke draws nothing.
static const int32_t L_qmark[] = {8, 8, 0, 9, 1, 10, 3, 10, 4, 9, 4, 7, 3, 6, 2, 5, 2, 4, 10, 2, 2, 1, -1};  // 63 ?
static const int32_t L_at[] = {12, 3, 3, 2, 1, 2, 0, 3, 0, 9, 1, 10, 3, 10, 4, 9, 4, 5, 3, 5, 2, 4, 1, 5, 1, 7, 2, 8, 3, 7, 3, 6, -1};  // 64 at sign
static const int32_t L_A[] = {8, 2, 0, 8, 2, 10, 4, 8, 4, 2, 8, 5, 4, 5, -1};  // 65 A
static const int32_t L_B[] = {8, 2, 3, 2, 4, 3, 4, 3, 4, 5, 3, 6, 1, 6, 9, 2, 1, 10, 8, 10, 3, 10, 4, 9, 4, 7, 3, 6, -1};  // 66 B
static const int32_t L_C[] = {12, 3, 3, 2, 1, 2, 0, 3, 0, 9, 1, 10, 3, 10, 4, 9, -1};  // 67 C
static const int32_t L_D[] = {8, 10, 3, 10, 4, 9, 4, 3, 3, 2, 0, 2, 9, 2, 1, 10, -1};  // 68 D
static const int32_t L_E[] = {12, 2, 0, 2, 0, 10, 4, 10, 8, 6, 3, 6, -1};  // 69 E
static const int32_t L_F[] = {8, 2, 0, 10, 4, 10, 8, 6, 3, 6, -1};  // 70 F
static const int32_t L_G[] = {12, 9, 3, 10, 1, 10, 0, 9, 0, 3, 1, 2, 3, 2, 4, 3, 4, 5, 3, 5, -1};  // 71 G
static const int32_t L_H[] = {8, 10, 0, 2, 12, 10, 4, 2, 8, 6, 4, 6, -1};  // 72 H
static const int32_t L_I[] = {9, 2, 3, 2, 10, 2, 2, 10, 9, 10, 3, 10, -1};  // 73 I
static const int32_t L_J[] = {8, 3, 1, 2, 2, 2, 3, 3, 3, 10, 10, 10, 4, 10, -1};  // 74 J
static const int32_t L_K[] = {8, 2, 0, 10, 8, 5, 4, 9, 4, 10, 8, 6, 4, 3, 4, 2, -1};  // 75 K
static const int32_t L_L[] = {8, 10, 0, 2, 4, 2, -1};  // 76 L
static const int32_t L_M[] = {8, 2, 0, 10, 2, 6, 4, 10, 4, 2, -1};  // 77 M
static const int32_t L_N[] = {8, 2, 0, 10, 4, 2, 4, 10, -1};  // 78 N
static const int32_t L_O[] = {8, 3, 0, 9, 1, 10, 3, 10, 4, 9, 4, 3, 3, 2, 1, 2, 0, 3, -1};  // 79 O
static const int32_t L_P[] = {8, 2, 0, 10, 3, 10, 4, 9, 4, 7, 3, 6, 0, 6, -1};  // 80 P
static const int32_t L_Q[] = {8, 3, 0, 9, 1, 10, 3, 10, 4, 9, 4, 3, 3, 2, 1, 2, 0, 3, 10, 4, 4, 2, -1};  // 81 Q
static const int32_t L_R[] = {8, 2, 0, 10, 3, 10, 4, 9, 4, 7, 3, 6, 0, 6, 9, 6, 4, 3, 4, 2, -1};  // 82 R
static const int32_t L_S[] = {8, 3, 1, 2, 3, 2, 4, 3, 4, 5, 3, 6, 1, 6, 0, 7, 0, 9, 1, 10, 3, 10, 4, 9, -1};  // 83 S
static const int32_t L_T[] = {10, 2, 2, 10, 8, 10, 4, 10, -1};  // 84 T
static const int32_t L_U[] = {8, 10, 0, 3, 1, 2, 3, 2, 4, 3, 4, 10, -1};  // 85 U
static const int32_t L_V[] = {8, 10, 0, 7, 2, 2, 4, 7, 4, 10, -1};  // 86 V
static const int32_t L_W[] = {8, 10, 0, 2, 2, 5, 4, 2, 4, 10, -1};  // 87 W
static const int32_t L_X[] = {8, 10, 4, 2, 12, 10, 0, 2, -1};  // 88 X
static const int32_t L_Y[] = {8, 10, 2, 6, 2, 2, 12, 10, 2, 6, -1};  // 89 Y
static const int32_t L_Z[] = {8, 9, 0, 10, 4, 10, 0, 2, 4, 2, 4, 3, 9, 6, 3, 6, -1};  // 90 Z
static const int32_t L_lbrack[] = {11, 11, 1, 11, 1, 1, 3, 1, -1};  // 91 [
static const int32_t L_bslash[] = {9, 10, 4, 2, -1};  // 92 backslash
static const int32_t L_rbrack[] = {9, 11, 3, 11, 3, 1, 1, 1, -1};  // 93 ]
static const int32_t L_caret[] = {8, 8, 2, 10, 4, 8, -1};  // 94 ^
static const int32_t L_under[] = {8, 1, 4, 1, -1};  // 95 underscore
static const int32_t L_backprime[] = {10, 10, 2, 9, 3, 8, -1};  // 96 grave accent
static const int32_t L_a[] = {9, 7, 3, 7, 4, 6, 4, 2, 12, 3, 2, 2, 1, 2, 0, 3, 0, 4, 1, 5, 4, 5, -1};  // 97 a
static const int32_t L_b[] = {8, 10, 0, 2, 8, 3, 1, 2, 3, 2, 4, 3, 4, 6, 3, 7, 1, 7, 0, 6, -1};  // 98 b
static const int32_t L_c[] = {12, 6, 3, 7, 1, 7, 0, 6, 0, 3, 1, 2, 3, 2, 4, 3, -1};  // 99 c
static const int32_t L_d[] = {12, 10, 4, 2, 12, 3, 3, 2, 1, 2, 0, 3, 0, 6, 1, 7, 3, 7, 4, 6, -1};  // 100 d
static const int32_t L_e[] = {12, 3, 3, 2, 1, 2, 0, 3, 0, 6, 1, 7, 3, 7, 4, 6, 4, 5, 0, 5, -1};  // 101 e
static const int32_t L_f[] = {12, 9, 3, 10, 2, 10, 1, 9, 1, 2, 8, 6, 2, 6, -1};  // 102 f
static const int32_t L_g[] = {8, 1, 1, 0, 3, 0, 4, 1, 4, 6, 3, 7, 1, 7, 0, 6, 0, 4, 1, 3, 3, 3, 4, 4, -1};  // 103 g
static const int32_t L_h[] = {8, 10, 0, 2, 8, 6, 2, 7, 3, 7, 4, 6, 4, 2, -1};  // 104 h
static const int32_t L_i[] = {9, 2, 3, 2, 10, 2, 2, 7, 1, 7, 10, 9, 2, 8, -1};  // 105 i
static const int32_t L_j[] = {8, 2, 0, 1, 1, 0, 2, 0, 3, 1, 3, 7, 2, 7, 11, 9, 3, 8, -1};  // 106 j
static const int32_t L_k[] = {9, 2, 1, 10, 12, 2, 1, 5, 4, 7, -1};  // 107 k
static const int32_t L_l[] = {9, 2, 3, 2, 10, 2, 2, 10, 1, 10, -1};  // 108 l
static const int32_t L_m[] = {8, 2, 0, 6, 1, 7, 2, 6, 2, 2, 10, 6, 3, 7, 4, 6, 4, 2, -1};  // 109 m
static const int32_t L_n[] = {8, 2, 0, 7, 8, 6, 2, 7, 3, 7, 4, 6, 4, 2, -1};  // 110 n
static const int32_t L_o[] = {8, 3, 0, 6, 1, 7, 3, 7, 4, 6, 4, 3, 3, 2, 1, 2, 0, 3, -1};  // 111 o
static const int32_t L_p[] = {8, 0, 0, 7, 8, 6, 1, 7, 3, 7, 4, 6, 4, 4, 3, 3, 0, 3, -1};  // 112 p
static const int32_t L_q[] = {12, 0, 4, 7, 12, 6, 3, 7, 1, 7, 0, 6, 0, 4, 1, 3, 4, 3, -1};  // 113 q
static const int32_t L_r[] = {8, 2, 0, 7, 8, 6, 2, 7, 3, 7, 4, 6, -1};  // 114 r
static const int32_t L_s[] = {8, 3, 1, 2, 3, 2, 4, 3, 3, 4, 2, 5, 1, 5, 0, 6, 1, 7, 3, 7, 4, 6, -1};  // 115 s
static const int32_t L_t[] = {8, 7, 2, 7, 9, 9, 1, 3, 2, 2, 3, 2, 4, 3, -1};  // 116 t
static const int32_t L_u[] = {8, 7, 0, 3, 1, 2, 3, 2, 4, 3, 12, 2, 4, 7, -1};  // 117 u
static const int32_t L_v[] = {8, 7, 0, 5, 2, 2, 4, 5, 4, 7, -1};  // 118 v
static const int32_t L_w[] = {8, 7, 0, 3, 1, 2, 2, 3, 2, 5, 10, 3, 3, 2, 4, 3, 4, 7, -1};  // 119 w
static const int32_t L_x[] = {8, 7, 4, 2, 12, 7, 0, 2, -1};  // 120 x
static const int32_t L_y[] = {8, 7, 0, 4, 1, 3, 3, 3, 4, 4, 4, 7, 12, 4, 4, 1, 3, 0, 1, 0, 0, 1, -1};  // 121 y
static const int32_t L_z[] = {8, 7, 4, 7, 0, 2, 4, 2, -1};  // 122 z
static const int32_t L_lbrace[] = {12, 11, 3, 11, 2, 10, 2, 7, 0, 6, 2, 5, 2, 2, 3, 1, 4, 1, -1};  // 123 {
static const int32_t L_vbar[] = {10, 2, 2, 10, -1};  // 124 vertical bar
static const int32_t L_rbrace[] = {8, 11, 1, 11, 2, 10, 2, 7, 4, 6, 2, 5, 2, 2, 1, 1, 0, 1, -1};  // 125 }
static const int32_t L_tilde[] = {8, 8, 0, 9, 1, 10, 3, 8, 4, 9, 4, 10, -1};  // 126 tilde
static const int32_t L_rub[] = {10, 2, -1};  // 127 DEL

// clang-format on

const int32_t *const cptrs[n_glyphs] = {
        L_space,  L_exclaim, L_quote, L_sharp,  L_dollar,    L_percent, L_amper, L_prime, L_lparen, L_rparen,
        L_ast,    L_plus,    L_comma, L_minus,  L_period,    L_divide,  L_0,     L_1,     L_2,      L_3,
        L_4,      L_5,       L_6,     L_7,      L_8,         L_9,       L_colon, L_semi,  L_langle, L_equal,
        L_rangle, L_qmark,   L_at,    L_A,      L_B,         L_C,       L_D,     L_E,     L_F,      L_G,
        L_H,      L_I,       L_J,     L_K,      L_L,         L_M,       L_N,     L_O,     L_P,      L_Q,
        L_R,      L_S,       L_T,     L_U,      L_V,         L_W,       L_X,     L_Y,     L_Z,      L_lbrack,
        L_bslash, L_rbrack,  L_caret, L_under,  L_backprime, L_a,       L_b,     L_c,     L_d,      L_e,
        L_f,      L_g,       L_h,     L_i,      L_j,         L_k,       L_l,     L_m,     L_n,      L_o,
        L_p,      L_q,       L_r,     L_s,      L_t,         L_u,       L_v,     L_w,     L_x,      L_y,
        L_z,      L_lbrace,  L_vbar,  L_rbrace, L_tilde,     L_rub,
};

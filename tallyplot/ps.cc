#include "ps.h"

#include <string>

#include "draw.h"
#include "series.h"

// The prologue: header comments, the dictionary every later command uses,
// units, page constants and the PostScript procedures of both pages. Kept
// byte for byte: it holds tabs and some lines end in white space.
const char kPrologue[] = R"PS(%!PS-Adobe-3.0 EPSF-3.0
%%BoundingBox: 0 0 595 842
%%Title: increment.ps
%%Creator: Orvanel
%%CreationDate: Wed Aug 11 15:54:27 2004
%%EndComments
64 dict begin
/inch {72 mul} def
/cm {28.34 mul} def
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
/TENHEIGHT 1.5 cm def 
/NUMTICKS 37 def
/TICKWIDTH 0.5 cm def
/BUFFER 0.75 inch def
/BORDERX 5.5 inch NUMTICKS TICKWIDTH mul 2 div sub BUFFER sub def
/BORDERY 4.25 inch TENHEIGHT 5 mul sub BUFFER sub def
/GRIDX BORDERX BUFFER add def
/GRIDY BORDERY BUFFER add def
/GS 3 def % standard dimension of the glyphs in points.
/XLABEL (Number of Racks Selected) def
/YLABEL (Successful Groups (%)) def
/TITLE (Increment-Length Resources) def
/FONTSIZE 10 def
/TEXTCELL 1.2 inch def
/NUMBERCELL 0.25 inch def
<< /PageSize [11 inch 8.5 inch] >> setpagedevice
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
% Converts a graph point to a location on the page
% pt pointX loc
/pointX {
    TICKWIDTH mul GRIDX add TICKWIDTH 2 div add
} def
% Converts a graph point to a location on the page
% pt pointY loc
/pointY {
    TENHEIGHT mul 10 div GRIDY add
} def
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
% drawGrid
% (BORDERX, BORDERY) is the lower-left corner.
% Draws a rectangle, then a bunch of horizontal lines,
% then a bunch of tickmarks on the middle line,
% and some labels. Everything but the lines.
/drawGrid {
    16 dict begin
	% Draw box border around page
	BORDERX BORDERY moveto
	0 TENHEIGHT 10 mul BUFFER 2 mul add rlineto
	NUMTICKS TICKWIDTH mul BUFFER 2 mul add 0 rlineto 
	0 -1 TENHEIGHT 10 mul BUFFER 2 mul add mul rlineto
	closepath
	stroke
	% draw horizontal lines
	newpath
	GRIDX GRIDY moveto
	0 1 10 {
	    TENHEIGHT mul GRIDY add GRIDX exch moveto
	    NUMTICKS TICKWIDTH mul 0 rlineto
	    -1 NUMTICKS TICKWIDTH mul mul 0 rmoveto
	} for
	stroke
	% draw vertical lines
	newpath
	GRIDX GRIDY moveto
	0 TENHEIGHT 10 mul rlineto
	stroke
	% draw tickmarks on line 5
	newpath
	GRIDX GRIDY 5 TENHEIGHT mul add moveto
	0 1 NUMTICKS {
	    0 -0.1 cm rlineto
	    TICKWIDTH 0.1 cm rmoveto
	    pop % toss useless control variable.
	} for
	stroke
	% Draw labels on tickmarks
	newpath
	/Courier findfont 6 scalefont setfont
	0 1 NUMTICKS 1 sub {
	    /num exch def
	    /numstr num 1 add 5 string cvs def
	    num TICKWIDTH mul GRIDX add GRIDY 5 TENHEIGHT mul add -0.3 cm add moveto
	    TICKWIDTH 2 div numstr stringwidth pop 2 div sub 0 rmoveto
	    numstr show
	} for
	% Draw labels on axes
	/Times-Roman findfont 16 scalefont setfont 
	GRIDX NUMTICKS TICKWIDTH mul 2 div TITLE stringwidth pop 2 div sub add
	    GRIDY 10 TENHEIGHT mul add 0.5 cm add moveto
	TITLE show	
	/Times-Roman findfont 10 scalefont setfont
	newpath
	GRIDX NUMTICKS TICKWIDTH mul 2 div XLABEL stringwidth pop 2 div sub add
	    GRIDY 0.5 cm sub moveto
	XLABEL show
	GRIDX 0.3 cm sub GRIDY 5 TENHEIGHT mul add YLABEL stringwidth pop 2 div sub moveto
	90 rotate
	YLABEL show
    end
} def
% Draws a line from x to x+(length of points),
% calling glyph for each point with the page coords
% of the point on the stack
% glyph x points drawLine
/drawLine {
    10 dict begin
	/points exch def
	/x exch def
	/glyph exch def
	/numpoints points length def
	newpath
	x pointX points 0 get pointY moveto
	x pointX points 0 get pointY gsave newpath moveto glyph cvx exec grestore
	1 1 numpoints 1 sub {
	    /x x 1 add def
	    /n exch def
	    x pointX points n get pointY lineto
	    x pointX points n get pointY gsave newpath moveto glyph cvx exec grestore
	} for
	stroke
    end
} def
% Draws a label at x,y with the text lbl
% x and y are graph points, and are converted automatically to page points.
% x y lbl drawLabel
/drawLabel {
    10 dict begin
	/lbl exch def
	/y exch def
	/x exch def
	newpath
	x pointX y pointY moveto
	0.5 inch 0 rlineto
	stroke
	newpath
	x pointX 0.6 inch add y pointY 3 sub moveto
	/Times-Roman findfont 8 scalefont setfont
	lbl show
    end
} def
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
%%% Table functions %%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
% x y rows columns cellwidth header? title drawTable
% Draws the outline of a table at the specified (x,y) with rows and columns, adding one extra row for column headers, and centering a title.
/drawTable {
10 dict begin
/title exch def
/header exch def
/cellwidth exch def
/columns exch def
/rows exch 1 add def
/y exch def
/x exch def

rows 1 sub -1 0 { % shading
/n exch def
n 2 mod 0 eq n rows 1 sub ne header 0 eq or and
{
gsave
0.8 0.8 0.8 setrgbcolor
newpath
n FONTSIZE mul y add x exch moveto
cellwidth columns mul 0 rlineto
0 FONTSIZE rlineto
cellwidth columns mul -1 mul 0 rlineto
closepath
fill
grestore
} if
} for

newpath % draw outline
x y moveto
2 setlinewidth
0 FONTSIZE rows mul rlineto
cellwidth columns mul 0 rlineto
0 -1 FONTSIZE mul rows mul rlineto
closepath

header 0 ne
{
x y rows 1 sub FONTSIZE mul add moveto
cellwidth columns mul 0 rlineto    
} if

stroke

1 setlinewidth

1 1 columns{ % vertical lines
newpath
cellwidth mul x add y moveto
0 rows FONTSIZE mul rlineto
stroke
} for

newpath % title
/Times-Roman findfont FONTSIZE scalefont setfont
x cellwidth columns mul 2 div add title stringwidth pop 2 div sub
y FONTSIZE rows mul add 2 add moveto
title show

end
} def

% x y header? title columndata tableColumn
/tableColumn {
10 dict begin
/columndata exch def
/title exch def
/header exch def
/y exch def
/x exch def
/rows columndata length 1 sub def

0 1 rows{
/n exch def
newpath
rows n sub FONTSIZE mul y add 2 add x 2 add exch moveto
/Times-Roman findfont FONTSIZE scalefont setfont
columndata n get show
} for

newpath
x 2 add y 2 add rows 1 add FONTSIZE mul add moveto
/Times-Roman findfont FONTSIZE scalefont setfont
title show

end
} def

% x y cellwidth rowdata tableRow
/tableRow {
10 dict begin
/rowdata exch def
/cellwidth exch def
/y exch def
/x exch def
/columns rowdata length 1 sub def

0 1 columns{
/n exch def
newpath
n cellwidth mul x add 1 add y 1 add moveto
/Times-Roman findfont FONTSIZE 1 sub scalefont setfont
rowdata n get show
} for

end
} def

%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
%%% End table functions %%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
% glyph functions
% These draw a glyph centered on currentpoint.
% They run inside a gsave/grestore sandbox,
% newpath is already called when they start,
% and GS is a defined constant to make their
% sizes uniform.
/circle { currentpoint GS 0 360 arc fill } def
/cross {
    -1 GS mul GS rmoveto
    2 GS mul -2 GS mul rlineto
    0 2 GS mul rmoveto -2 GS mul dup rlineto
    stroke
} def
/plus {
    -1 GS mul 0 rmoveto
    2 GS mul 0 rlineto
    -1 GS mul GS rmoveto
    0 -2 GS mul rlineto
    stroke
} def
/square {
    -1 GS mul dup rmoveto
    0 2 GS mul rlineto
    2 GS mul 0 rlineto
    0 -2 GS mul rlineto closepath
    fill
} def
/diamond {
    0 -1 GS mul rmoveto
    GS GS rlineto
    -1 GS mul GS rlineto
    -1 GS mul dup rlineto closepath
    fill
} def
/asterisk {
    0 45 135{
	rotate
	-1 GS mul 0 rmoveto
	2 GS mul 0 rlineto
	-1 GS mul 0 rmoveto
    } for
    stroke
} def
/underscore{
    GS -2 div 0 rmoveto
    GS 0 rlineto
    stroke
} def
/triangle{
    2 2 scale
    -0.5 GS mul -0.5 GS mul rmoveto
    -30 rotate 0 GS rlineto
    -120 rotate 0 GS rlineto closepath
    fill
} def
/smallcircle { 0.7 0.7 scale circle } def
/smallsquare { 0.7 0.7 scale square } def
/smalldiamond { 0.7 0.7 scale diamond } def
/smallasterisk { 0.7 0.7 scale asterisk } def
%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%%
% Line example:
%128 0 128 setrgbcolor (circle) 0 [ 100 96.5 88.3 74 66 50 32 13 ] drawLine
)PS";

namespace {

// A separator line: caption, then percent signs up to 80 characters.
std::string separator(const std::string& caption) {
  return caption + std::string(80 - caption.size(), '%') + "\n";
}

}  // namespace

void printFile(std::ostream& out) { out << kPrologue; }

void printLatin1Fonts(std::ostream& out) {
  for (const char* font : {"Times-Roman", "Courier"}) {
    out << "/" << font
        << " findfont dup length dict begin {1 index /FID ne {def} {pop pop} "
           "ifelse} forall /Encoding ISOLatin1Encoding 256 array copy dup 45 "
           "/hyphen put def currentdict end /"
        << font << " exch definefont pop\n";
  }
}

void printFooter(std::ostream& out) {
  out << "newpath\n"
      << "drawGrid\n"
      << "showpage\n";
}

void printTable(std::ostream& out, int numpoints,
                std::vector<std::string> sumnames) {
  // The table's size is written as sums for the interpreter to work out:
  // the fixed rows, and one row less than there are series.
  const int fixed = kFixedSeriesCount;
  const int sumcount = static_cast<int>(sumnames.size());
  out << separator("") << separator("%%% Table whatever ") << separator("")
      << "\n";
  out << "0.5 inch TEXTCELL add %x\n"
      << " 7 inch " << fixed << " " << sumcount << " add FONTSIZE mul sub %y\n"
      << " " << fixed - 1 << " " << sumcount << " add %rows\n"
      << numpoints << " %columns\n"
      << " NUMBERCELL %cellwidth\n"
      << "0 %header\n"
      << "() %title\n"
      << " drawTable\n"
      << "\n";
  out << "0.5 inch %x\n"
      << "7 inch " << fixed << " " << sumcount << " add FONTSIZE mul sub %y\n"
      << fixed - 1 << " " << sumcount << " add %rows\n"
      << "1 %columns\n"
      << "TEXTCELL %cellwidth\n"
      << "0 %header\n"
      << "() %title\n"
      << "drawTable\n"
      << "\n";
  out << "0.5 inch %x\n"
      << "7 inch " << fixed << " " << sumcount << " add FONTSIZE mul sub %y\n"
      << "0 %header\n"
      << "() %title\n"
      << "[ %columndata\n";
  for (const FixedSeries& series : kFixedSeries) {
    out << " (" << series.caption << ")\n";
  }
  for (const std::string& name : sumnames) {
    out << " (" << escapePsString(name) << ")\n";
  }
  out << "] tableColumn\n\n";
}

void printTableFooter(std::ostream& out) { out << "\nshowpage\nend\n%%EOF\n"; }

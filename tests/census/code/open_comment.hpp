int one;
/* a comment left open, int lost;
*